// The encoding kinds of in-memory text: which encoding 8-bit text is in, or
// that its bytes already are UTF-16. Strings carry one, and the character
// stepping, the text primitives and the conversions take one; every layer
// spells them with these names.
#pragma once
#include <cstdint>

// The two-argument (terminated text, encoding) overloads of the strings take
// this type so that a literal length can never be mistaken for an encoding.
enum KaTextEncoding : int32_t {
    KA_TEXT_LOCALE = 1,  // the locale's multibyte encoding, the default
    KA_TEXT_UTF16 = 2,   // bytes that already are UTF-16 units
    KA_TEXT_UTF8 = 3,
    KA_TEXT_SINGLE_BYTE = 4,  // every byte is one character (the text searches only)
};
