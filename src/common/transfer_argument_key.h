#pragma once

// The key of the transfer tools' job argument. The runners' encoding
// (Utils::argCyclicShiftEncode) rotates byte i left, the tools' decoding rotates it
// right, by the digit at position i mod 10. Standard library only: the tools
// include it without linking the shared code base.

namespace TransferArgumentKey {

constexpr char kDigits[] = "5031764206";
constexpr int kLength = 10;

// Bits to rotate the byte at `index` by.
constexpr int shiftAt(int index) { return kDigits[index % kLength] - '0'; }

constexpr bool digitsRotateWithinAByte() {
    for (int i = 0; i < kLength; ++i) {
        if (shiftAt(i) < 0 || shiftAt(i) > 7) return false;
    }
    return kDigits[kLength] == '\0';
}
static_assert(digitsRotateWithinAByte(), "every key digit must be between 0 and 7");

}  // namespace TransferArgumentKey
