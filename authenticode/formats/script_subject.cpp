#include "authenticode/formats/script_subject.h"

#include <algorithm>
#include <array>
#include <functional>
#include <memory>
#include <string>

#include "authenticode/formats/signature_der.h"
#include "authenticode/reading/base64.h"
#include "authenticode/signature/indirect_digest.h"
#include "authenticode/signature/oids.h"

namespace authenticode {

namespace {

// How a kind of script writes its signature block. Markers and comments are
// ASCII, in whatever encoding the file has.
struct BlockSyntax {
    std::string_view beginLine;
    std::string_view endLine;
    std::string_view linePrefix;
    std::string_view lineSuffix;
    bool powerShell;  // the PowerShell interface's rules, else Windows Script Host's
};

const BlockSyntax& syntaxOf(ScriptKind kind) {
    static const BlockSyntax powerShell{"# SIG # Begin signature block", "# SIG # End signature block", "# ", "", true};
    static const BlockSyntax powerShellXml{"<!-- SIG # Begin signature block -->", "<!-- SIG # End signature block -->",
                                           "<!-- ", " -->", true};
    static const BlockSyntax jScript{"// SIG // Begin signature block", "// SIG // End signature block", "// SIG // ",
                                     "", false};
    static const BlockSyntax vbScript{"'' SIG '' Begin signature block", "'' SIG '' End signature block", "'' SIG '' ",
                                      "", false};
    static const BlockSyntax windowsScript{"<signature>", "</signature>", "** SIG ** ", "", false};
    switch (kind) {
        case ScriptKind::PowerShell: return powerShell;
        case ScriptKind::PowerShellXml: return powerShellXml;
        case ScriptKind::JScript: return jScript;
        case ScriptKind::VBScript: return vbScript;
        case ScriptKind::WindowsScriptFile: return windowsScript;
    }
    return powerShell;
}

struct Extension {
    std::string_view name;
    ScriptKind kind;
};

constexpr std::array<Extension, 9> extensions{{
    {".ps1", ScriptKind::PowerShell},
    {".psm1", ScriptKind::PowerShell},
    {".psd1", ScriptKind::PowerShell},
    {".ps1xml", ScriptKind::PowerShellXml},
    {".psc1", ScriptKind::PowerShellXml},
    {".cdxml", ScriptKind::PowerShellXml},
    {".js", ScriptKind::JScript},
    {".vbs", ScriptKind::VBScript},
    {".wsf", ScriptKind::WindowsScriptFile},
}};

// An ASCII string as the file spells it.
std::vector<std::uint8_t> encoded(std::string_view ascii, TextEncoding encoding) {
    std::vector<std::uint8_t> out;
    for (const char c : ascii) {
        const auto byte = static_cast<std::uint8_t>(c);
        if (encoding == TextEncoding::Utf16Le) {
            out.insert(out.end(), {byte, 0});
        } else if (encoding == TextEncoding::Utf16Be) {
            out.insert(out.end(), {0, byte});
        } else {
            out.push_back(byte);
        }
    }
    return out;
}

std::size_t unitSize(TextEncoding encoding) {
    return encoding == TextEncoding::Utf16Le || encoding == TextEncoding::Utf16Be ? 2 : 1;
}

// Occurrences of ASCII text are found on the bytes: in UTF-8 an ASCII byte
// is never part of another character, even in ill-formed input, and in
// UTF-16 a match must start on a code unit.
class TextSearch {
public:
    TextSearch(Bytes file, TextEncoding encoding) : file_(file), unit_(unitSize(encoding)) {}

    std::optional<std::size_t> first(Bytes needle, std::size_t from) const {
        std::size_t position = from;
        while (position <= file_.size()) {
            const auto found = std::search(file_.begin() + static_cast<std::ptrdiff_t>(position), file_.end(),
                                           std::boyer_moore_horspool_searcher(needle.begin(), needle.end()));
            if (found == file_.end()) {
                return std::nullopt;
            }
            const auto offset = static_cast<std::size_t>(found - file_.begin());
            if (offset % unit_ == 0) {
                return offset;
            }
            position = offset + 1;
        }
        return std::nullopt;
    }

    std::optional<std::size_t> last(Bytes needle, std::size_t from) const {
        std::optional<std::size_t> latest;
        for (auto found = first(needle, from); found; found = first(needle, *found + unit_)) {
            latest = found;
        }
        return latest;
    }

private:
    Bytes file_;
    std::size_t unit_;
};

std::u16string decodedText(Bytes text, TextEncoding encoding) {
    std::u16string out;
    decodeToUtf16Le(text, encoding, [&](Bytes block) {
        for (std::size_t i = 0; i + 1 < block.size(); i += 2) {
            out.push_back(static_cast<char16_t>(block[i] | (block[i + 1] << 8)));
        }
    });
    return out;
}

bool startsWithAscii(std::u16string_view text, std::string_view ascii) {
    return text.size() >= ascii.size() &&
           std::equal(ascii.begin(), ascii.end(), text.begin(), [](char a, char16_t b) { return char16_t(a) == b; });
}

bool endsWithAscii(std::u16string_view text, std::string_view ascii) {
    return text.size() >= ascii.size() && startsWithAscii(text.substr(text.size() - ascii.size()), ascii);
}

// PowerShell: after the end line come one or two line-break characters and
// nothing else.
bool onlyLineBreaksFollow(Bytes rest, TextEncoding encoding) {
    if (rest.empty() || rest.size() > 2 * unitSize(encoding) || rest.size() % unitSize(encoding) != 0) {
        return false;
    }
    const std::u16string text = decodedText(rest, encoding);
    return std::all_of(text.begin(), text.end(), [](char16_t c) { return c == u'\r' || c == u'\n'; });
}

// Decodes and feeds [offset, offset + length) of the file into the hasher a
// block at a time, cutting only where no character spans the cut. Returns
// the number of UTF-16 code units fed.
std::size_t hashDecoded(const MappedFile& file, std::size_t offset, std::size_t length, TextEncoding encoding,
                        Hasher& hasher) {
    if (encoding == TextEncoding::Utf16Le) {
        const std::size_t even = length & ~std::size_t{1};
        hashFileRange(file, offset, even, hasher);
        std::size_t units = even / 2;
        if (even != length) {
            units += decodeToUtf16Le(file.bytes().subspan(offset + even, 1), encoding,
                                     [&](Bytes utf16) { hasher.update(utf16); });
        }
        return units;
    }
    constexpr std::size_t block = 1 << 20;
    const Bytes text = file.bytes().subspan(offset, length);
    file.willReadSequentially(offset, length);
    std::size_t units = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        std::size_t cut = std::min(text.size(), position + block);
        if (encoding == TextEncoding::Utf8) {
            // A UTF-8 sequence is at most four bytes: three steps back from a
            // continuation byte reach its lead byte or a byte no sequence
            // spanning the cut can start from.
            for (int step = 0; step < 3 && cut < text.size() && cut > position + 1 && (text[cut] & 0xC0) == 0x80;
                 ++step) {
                --cut;
            }
        } else if (encoding == TextEncoding::Utf16Be && cut < text.size()) {
            cut -= (cut - position) % 2;
        }
        units += decodeToUtf16Le(text.subspan(position, cut - position), encoding,
                                 [&](Bytes utf16) { hasher.update(utf16); });
        file.doneWith(offset + position, cut - position);
        position = cut;
    }
    return units;
}

}  // namespace

std::optional<ScriptKind> scriptKindForPath(std::string_view path) {
    const std::size_t slash = path.find_last_of('/');
    const std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string_view::npos) {
        return std::nullopt;
    }
    std::string extension(name.substr(dot));
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; });
    for (const Extension& candidate : extensions) {
        if (candidate.name == extension) {
            return candidate.kind;
        }
    }
    return std::nullopt;
}

std::variant<ScriptSignatureBlock, Reason> findScriptSignatureBlock(Bytes file, ScriptKind kind) {
    const BlockSyntax& syntax = syntaxOf(kind);
    const TextLayout layout = syntax.powerShell ? powerShellTextLayout(file) : windowsScriptTextLayout(file);
    const TextEncoding encoding = layout.encoding;
    const TextSearch search(file, encoding);

    const auto begin = encoded("\r\n" + std::string(syntax.beginLine), encoding);
    ScriptSignatureBlock block{layout, 0, 0, file.size(), {}};

    if (syntax.powerShell) {
        // The byte order mark is part of the signed text.
        const auto found = search.first(begin, 0);
        if (!found) {
            return Reason::NoSignature;
        }
        const std::size_t linesStart = *found + begin.size();
        const auto end = encoded("\r\n" + std::string(syntax.endLine), encoding);
        const auto endFound = search.first(end, linesStart);
        if (!endFound || !onlyLineBreaksFollow(file.subspan(*endFound + end.size()), encoding)) {
            return Reason::NoSignature;
        }
        block.blockStart = *found;
        block.lines = file.subspan(linesStart, *endFound - linesStart);
        return block;
    }

    block.textStart = layout.byteOrderMarkSize;
    const auto found = search.last(begin, block.textStart);
    if (!found) {
        return Reason::NoSignature;
    }
    const std::size_t linesStart = *found + begin.size();
    const auto end = encoded("\r\n" + std::string(syntax.endLine) + "\r\n", encoding);
    const auto endFound = search.first(end, linesStart);
    if (!endFound) {
        return Reason::NoSignature;
    }
    block.blockStart = *found;
    block.blockEnd = *endFound + end.size();
    block.lines = file.subspan(linesStart, *endFound - linesStart);
    return block;
}

std::variant<std::vector<std::uint8_t>, Reason> signatureInBlock(const ScriptSignatureBlock& block, ScriptKind kind) {
    const BlockSyntax& syntax = syntaxOf(kind);
    const std::u16string text = decodedText(block.lines, block.layout.encoding);
    std::string base64;
    std::size_t lineStart = 0;
    while (lineStart <= text.size()) {
        std::size_t lineEnd = text.find(u'\n', lineStart);
        if (lineEnd == std::u16string::npos) {
            lineEnd = text.size();
        }
        std::u16string_view line = std::u16string_view(text).substr(lineStart, lineEnd - lineStart);
        if (!line.empty() && line.back() == u'\r') {
            line.remove_suffix(1);
        }
        if (!line.empty()) {
            if (!startsWithAscii(line, syntax.linePrefix) || !endsWithAscii(line, syntax.lineSuffix) ||
                line.size() < syntax.linePrefix.size() + syntax.lineSuffix.size()) {
                return Reason::NoSignature;
            }
            line = line.substr(syntax.linePrefix.size(),
                               line.size() - syntax.linePrefix.size() - syntax.lineSuffix.size());
            for (const char16_t c : line) {
                if (c >= 0x80) {
                    return Reason::NoSignature;
                }
                base64.push_back(static_cast<char>(c));
            }
        }
        lineStart = lineEnd + 1;
    }
    auto der = decodeBase64(base64);
    if (!der) {
        return Reason::NoSignature;
    }
    return std::move(*der);
}

void hashScriptText(const MappedFile& file, const ScriptSignatureBlock& block, ScriptKind kind, Hasher& hasher) {
    const TextEncoding encoding = block.layout.encoding;
    const std::size_t before = hashDecoded(file, block.textStart, block.blockStart - block.textStart, encoding, hasher);
    if (syntaxOf(kind).powerShell) {
        return;
    }
    hashDecoded(file, block.blockEnd, file.bytes().size() - block.blockEnd, encoding, hasher);
    const auto position = static_cast<std::uint32_t>(before);
    const std::array<std::uint8_t, 4> trailer{
        static_cast<std::uint8_t>(position), static_cast<std::uint8_t>(position >> 8),
        static_cast<std::uint8_t>(position >> 16), static_cast<std::uint8_t>(position >> 24)};
    hasher.update(Bytes(trailer.data(), trailer.size()));
}

std::optional<SubjectOrReason> locateScriptSubject(const MappedFile& file, std::string_view path) {
    const auto kind = scriptKindForPath(path);
    if (!kind) {
        return std::nullopt;
    }
    auto found = findScriptSignatureBlock(file.bytes(), *kind);
    if (const auto* reason = std::get_if<Reason>(&found)) {
        return *reason;
    }
    const auto block = std::get<ScriptSignatureBlock>(found);
    auto carried = signatureInBlock(block, *kind);
    if (const auto* reason = std::get_if<Reason>(&carried)) {
        return *reason;
    }
    // The subject keeps the decoded DER alive for as long as it is checked.
    const auto der = std::make_shared<const std::vector<std::uint8_t>>(std::move(std::get<0>(carried)));
    const auto message = signatureDer(*der, AfterSignature::Nothing);
    if (const auto* reason = std::get_if<Reason>(&message)) {
        return *reason;
    }
    // The SpcSipInfo names the interface whose rule made the digest. The
    // verifier picks its interface by the file's name, not by the signature,
    // and a digest made by another kind's rule does not match this one's, so
    // the interface's GUID is not compared.
    return Subject{std::get<Bytes>(message), [&file, der, block, kind = *kind](const SignedMessage& signedMessage) {
                       return checkIndirectDigest(signedMessage, oids::bytes(oids::spcSipInfo),
                                                  [&](Hasher& hasher) { hashScriptText(file, block, kind, hasher); });
                   }};
}

}  // namespace authenticode
