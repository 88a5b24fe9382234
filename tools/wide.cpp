/*
 * wide.cpp: arithmetic on 192-bit fractions with 32-bit digits and 64-bit
 * intermediates only.
 */
#include "wide.h"

bool operator==(const Wide &a, const Wide &b) {
  for (int i = 0; i < wide_digits; ++i)
    if (a.d[i] != b.d[i]) return false;
  return true;
}

Wide wide_add(const Wide &a, const Wide &b, uint32_t *carry_out) {
  Wide r;
  uint64_t carry = 0;
  for (int i = wide_digits - 1; i >= 0; --i) {
    uint64_t t = uint64_t(a.d[i]) + b.d[i] + carry;
    r.d[i] = uint32_t(t);
    carry = t >> 32;
  }
  if (carry_out) *carry_out = uint32_t(carry);
  return r;
}

Wide wide_sub(const Wide &a, const Wide &b, uint32_t *borrow_out) {
  Wide r;
  uint32_t borrow = 0;
  for (int i = wide_digits - 1; i >= 0; --i) {
    uint64_t t = uint64_t(a.d[i]) - b.d[i] - borrow;
    r.d[i] = uint32_t(t);
    borrow = uint32_t(t >> 63);  // the difference went below zero
  }
  if (borrow_out) *borrow_out = borrow;
  return r;
}

bool wide_less(const Wide &a, const Wide &b) {
  for (int i = 0; i < wide_digits; ++i)
    if (a.d[i] != b.d[i]) return a.d[i] < b.d[i];
  return false;
}

bool wide_is_zero(const Wide &a) {
  for (int i = 0; i < wide_digits; ++i)
    if (a.d[i]) return false;
  return true;
}

Wide wide_from_limbs(const uint32_t limbs[4]) {
  Wide r{};
  for (int i = 0; i < 4; ++i) r.d[i] = limbs[i];
  return r;
}

Wide wide_from_units(uint64_t n, int shift) {
  Wide r{};
  // Bit b (counted from the least significant) sits in digit 5 - b / 32;
  // bits that land at 192 or above are the integer part and drop out.
  for (int j = 0; j < 64; ++j) {
    int b = shift + j;
    if (((n >> j) & 1) && b < wide_bits) r.d[wide_digits - 1 - b / 32] |= uint32_t(1) << (b % 32);
  }
  return r;
}

Wide wide_ratio(uint64_t num, uint64_t den, int shift) {
  // The integer part of num / den lands at bit `shift` and up; the
  // remainder yields one fraction bit per step below it.
  Wide r = shift < wide_bits ? wide_from_units(num / den, shift) : Wide{};
  uint64_t rem = num % den;
  for (int bit = shift - 1; bit >= 0 && rem; --bit) {
    rem <<= 1;  // den < 2^63 keeps this below 2^64
    if (rem >= den) {
      rem -= den;
      r.d[wide_digits - 1 - bit / 32] |= uint32_t(1) << (bit % 32);
    }
  }
  return r;
}

Wide wide_add_saturated(const Wide &a, const Wide &b) {
  uint32_t carry = 0;
  Wide r = wide_add(a, b, &carry);
  if (carry)
    for (int i = 0; i < wide_digits; ++i) r.d[i] = 0xFFFFFFFFu;
  return r;
}

void wide_hex(const Wide &a, int count, char *out) {
  static const char hex[] = "0123456789ABCDEF";
  if (count > 8 * wide_digits) count = 8 * wide_digits;
  for (int i = 0; i < count; ++i) out[i] = hex[(a.d[i / 8] >> (28 - 4 * (i % 8))) & 15];
  out[count < 0 ? 0 : count] = '\0';
}

int wide_certain_digits(const Wide &s, const Wide &below, const Wide &above) {
  uint32_t borrow = 0, carry = 0;
  Wide low = wide_sub(s, below, &borrow);
  Wide high = wide_add(s, above, &carry);
  if (borrow || carry) return 0;
  // Every digit string between low and high starts with their common
  // leading digits, as truncation to d digits is monotone.
  int n = 0;
  while (n < 8 * wide_digits) {
    uint32_t shift = 28 - 4 * (n % 8);
    if (((low.d[n / 8] >> shift) & 15) != ((high.d[n / 8] >> shift) & 15)) break;
    ++n;
  }
  return n;
}
