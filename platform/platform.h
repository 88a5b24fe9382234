/*
 * platform.h: the thin services the rest of Quarn calls, one header each;
 * this umbrella includes them all. platform/win32/ implements the
 * operating-system services over the Win32 API, platform/posix/ over POSIX,
 * each in a file named after its service; the portable ones (cpu, profile,
 * fault table, name matching) sit at the top.
 */
#pragma once

#include "cpu.h"
#include "fault.h"
#include "files.h"
#include "instance.h"
#include "power.h"
#include "profile.h"
#include "threads.h"
