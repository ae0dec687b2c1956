// Signed scripts: PowerShell (.ps1 .psm1 .psd1, and .ps1xml .psc1 .cdxml in
// XML comments), JScript (.js), VBScript (.vbs) and Windows Script Files
// (.wsf). The signature is a base64 PKCS#7 in a block of comment lines; the
// signed content is the script's text as UTF-16LE.
//
// PowerShell: the block starts at the first "\r\n# SIG # Begin signature
// block" and must run to the end of the file ("# SIG # End signature block"
// and one or two line-break characters). The text before that line break is
// signed, byte order mark included (as U+FEFF).
//
// Windows Script Host (.js .vbs .wsf): the block starts at the last
// "\r\n// SIG // Begin signature block" ("'' SIG ''" for VBScript,
// "<signature>" with "** SIG **" lines for .wsf) and ends with the first
// "\r\n// SIG // End signature block\r\n" after it ("</signature>"). The text
// before and after the block is signed, without a byte order mark, followed
// by the block's position in the text (UTF-16 code units, 32 bits, little
// endian).
#pragma once

#include <optional>
#include <string_view>
#include <variant>
#include <vector>

#include "authenticode/formats/subject.h"
#include "authenticode/reading/mapped_file.h"
#include "authenticode/reading/text_encoding.h"
#include "authenticode/signature/hasher.h"

namespace authenticode {

enum class ScriptKind { PowerShell, PowerShellXml, JScript, VBScript, WindowsScriptFile };

// The kind of script a file name's extension (any case) names, if any.
std::optional<ScriptKind> scriptKindForPath(std::string_view path);

// Where a script's signature block is.
struct ScriptSignatureBlock {
    TextLayout layout;
    std::size_t textStart;   // first byte of the signed text
    std::size_t blockStart;  // the line break that opens the block
    std::size_t blockEnd;    // just past the block; the signed text resumes here
    Bytes lines;             // the comment lines inside the block, still encoded
};

// Finds the signature block. NoSignature if there is none, or only part of one.
std::variant<ScriptSignatureBlock, Reason> findScriptSignatureBlock(Bytes file, ScriptKind kind);

// The DER that the block's comment lines carry in base64. NoSignature if a
// line is not a comment line of the block or the base64 is broken.
std::variant<std::vector<std::uint8_t>, Reason> signatureInBlock(const ScriptSignatureBlock& block, ScriptKind kind);

// Feeds the signed content of the script into `hasher`.
void hashScriptText(const MappedFile& file, const ScriptSignatureBlock& block, ScriptKind kind, Hasher& hasher);

// Nothing if the file's name is not a script's. Otherwise its signature and
// how its content is checked, or the reason there is nothing to check.
std::optional<SubjectOrReason> locateScriptSubject(const MappedFile& file, std::string_view path);

}  // namespace authenticode
