; quarn.nsi: the Windows installer. It puts the 64-bit programs on 64-bit
; Windows and the 32-bit ones otherwise into Program Files, makes a per-user
; data folder that is the programs' working folder (Quarn keeps Quarn.ini and
; its result files in its current folder, and Program Files is not writable
; for a standard user), and adds Start-menu entries and, optionally, a
; "start with Windows" entry. The uninstaller removes the programs and
; leaves the data folder.
;
; makensis -DVERSION=5.10 -DWIN32_BIN=DIR -DWIN64_BIN=DIR -DICON=FILE -DOUTFILE=FILE quarn.nsi
; Silent use: setup.exe /S [/AUTOSTART] [/D=DIR]; uninstall.exe /S

Unicode true
SetCompressor /SOLID lzma
RequestExecutionLevel admin

!include LogicLib.nsh
!include Sections.nsh
!include FileFunc.nsh
!include x64.nsh

!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Quarn"
!define USER_KEY "Software\Quarn"

Name "Quarn ${VERSION}"
OutFile "${OUTFILE}"
Icon "${ICON}"
UninstallIcon "${ICON}"
VIProductVersion "${VERSION}.0.0"
VIAddVersionKey /LANG=1033 "ProductName" "Quarn"
VIAddVersionKey /LANG=1033 "CompanyName" "The Quarn project"
VIAddVersionKey /LANG=1033 "LegalCopyright" "Copyright (C) the Quarn project"
VIAddVersionKey /LANG=1033 "FileDescription" "Quarn ${VERSION} setup"
VIAddVersionKey /LANG=1033 "FileVersion" "${VERSION}"
ShowInstDetails show
ShowUninstDetails show

Var DataDir

Page components
Page directory
Page instfiles
UninstPage uninstConfirm
UninstPage instfiles

Section "Quarn (required)" SecMain
  SectionIn RO
  SetShellVarContext current
  StrCpy $DataDir "$LOCALAPPDATA\Quarn"

  SetOutPath "$INSTDIR"
  ${If} ${RunningX64}
    File "${WIN64_BIN}\quarn.exe"
    File "${WIN64_BIN}\quarn-coord.exe"
  ${Else}
    File "${WIN32_BIN}\quarn.exe"
    File "${WIN32_BIN}\quarn-coord.exe"
  ${EndIf}
  WriteUninstaller "$INSTDIR\uninstall.exe"

  ; The working folder of every entry: CreateShortcut takes the output path.
  CreateDirectory "$DataDir"
  WriteRegStr HKCU "${USER_KEY}" "DataFolder" "$DataDir"
  SetOutPath "$DataDir"
  CreateDirectory "$SMPROGRAMS\Quarn"
  CreateShortcut "$SMPROGRAMS\Quarn\Quarn.lnk" "$INSTDIR\quarn.exe"
  CreateShortcut "$SMPROGRAMS\Quarn\Quarn data folder.lnk" "$DataDir"
  CreateShortcut "$SMPROGRAMS\Quarn\Uninstall Quarn.lnk" "$INSTDIR\uninstall.exe"
  DetailPrint "Quarn keeps its state and results in $DataDir"

  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Quarn"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "The Quarn project"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\quarn.exe"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
SectionEnd

Section /o "Start with Windows" SecAutostart
  SetShellVarContext current
  SetOutPath "$LOCALAPPDATA\Quarn"
  CreateShortcut "$SMSTARTUP\Quarn.lnk" "$INSTDIR\quarn.exe"
SectionEnd

; After the sections, whose indexes it uses.
Function .onInit
  SetShellVarContext current
  ${If} $INSTDIR == ""
    ${If} ${RunningX64}
      StrCpy $INSTDIR "$PROGRAMFILES64\Quarn"
    ${Else}
      StrCpy $INSTDIR "$PROGRAMFILES\Quarn"
    ${EndIf}
  ${EndIf}
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
  ; /AUTOSTART chooses the "start with Windows" entry, for silent installs.
  ${GetParameters} $0
  ClearErrors
  ${GetOptions} $0 "/AUTOSTART" $1
  ${IfNot} ${Errors}
    !insertmacro SelectSection ${SecAutostart}
  ${EndIf}
FunctionEnd

Function un.onInit
  SetShellVarContext current
  ${If} ${RunningX64}
    SetRegView 64
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext current
  ReadRegStr $DataDir HKCU "${USER_KEY}" "DataFolder"
  ${If} $DataDir == ""
    StrCpy $DataDir "$LOCALAPPDATA\Quarn"
  ${EndIf}

  Delete "$INSTDIR\quarn.exe"
  Delete "$INSTDIR\quarn-coord.exe"
  Delete "$INSTDIR\uninstall.exe"
  RMDir "$INSTDIR"
  Delete "$SMPROGRAMS\Quarn\Quarn.lnk"
  Delete "$SMPROGRAMS\Quarn\Quarn data folder.lnk"
  Delete "$SMPROGRAMS\Quarn\Uninstall Quarn.lnk"
  RMDir "$SMPROGRAMS\Quarn"
  Delete "$SMSTARTUP\Quarn.lnk"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  DeleteRegValue HKCU "${USER_KEY}" "DataFolder"
  DeleteRegKey /ifempty HKCU "${USER_KEY}"

  ; The volunteer's results and state stay where they are.
  DetailPrint "Your results and Quarn's state are kept in $DataDir"
  MessageBox MB_OK|MB_ICONINFORMATION "Quarn has been removed. Your results (output0.txt, output1.txt) and Quarn's state (Quarn.ini) are kept in$\r$\n$\r$\n$DataDir$\r$\n$\r$\nDelete that folder yourself once you have sent your results." /SD IDOK
SectionEnd
