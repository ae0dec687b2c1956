// Script text as the platform reads it: which encoding a script file is in,
// and its text as UTF-16 code units, which is what script signatures hash.
#pragma once

#include <cstddef>
#include <functional>

#include "authenticode/reading/bytes.h"

namespace authenticode {

enum class TextEncoding {
    Utf8,
    Utf16Le,
    Utf16Be,
    Ansi,  // the ANSI code page of an English-language system: Windows-1252
};

struct TextLayout {
    TextEncoding encoding;
    std::size_t byteOrderMarkSize;  // 0, 2 or 3 bytes at the start of the file
};

// How the PowerShell script interface reads a file: a UTF-16 (either order)
// or UTF-8 byte order mark decides; without one, the file is read in the
// ANSI code page, never as UTF-8 (the platform's guidance for signed scripts
// whose hash does not match: save them with a byte order mark).
TextLayout powerShellTextLayout(Bytes file);

// How the Windows Script Host interface reads a file: by its byte order
// mark, and in the ANSI code page without one.
TextLayout windowsScriptTextLayout(Bytes file);

// Receives decoded text as UTF-16LE bytes, a block at a time.
using Utf16Sink = std::function<void(Bytes utf16le)>;

// Decodes `text` to UTF-16 and hands it to `sink` in blocks; returns the
// number of code units. Malformed input decodes the way Windows does: each
// maximal ill-formed UTF-8 subsequence and a last odd byte of UTF-16 become
// U+FFFD; Windows-1252's five unassigned bytes map to the C1 controls of the
// same value. Work and memory do not depend on anything but the text's size.
std::size_t decodeToUtf16Le(Bytes text, TextEncoding encoding, const Utf16Sink& sink);

// The number of UTF-16 code units `text` decodes to.
std::size_t utf16Length(Bytes text, TextEncoding encoding);

}  // namespace authenticode
