#include "authenticode/reading/pe_image.h"

namespace authenticode {

namespace {

constexpr std::uint16_t dosMagic = 0x5A4D;          // "MZ"
constexpr std::uint32_t peSignature = 0x00004550;  // "PE\0\0"
constexpr std::uint16_t pe32Magic = 0x10B;
constexpr std::uint16_t pe32PlusMagic = 0x20B;
constexpr std::size_t certificateDirectoryIndex = 4;

// IMAGE_DOS_HEADER: 64 bytes, of which only the magic and e_lfanew, the
// offset of the PE signature and the header's last field, matter here.
struct DosHeader {
    static constexpr std::size_t lfanewOffset = 0x3C;
    std::uint16_t magic;
    std::uint32_t lfanew;

    static std::optional<DosHeader> read(ByteCursor& cursor) {
        DosHeader header{};
        const bool read = cursor.fields(header.magic) && cursor.skip(lfanewOffset - sizeof(header.magic)) &&
                          cursor.fields(header.lfanew);
        return read ? std::optional(header) : std::nullopt;
    }
};

// IMAGE_FILE_HEADER, the COFF header after the PE signature.
struct FileHeader {
    std::uint16_t machine;
    std::uint16_t numberOfSections;
    std::uint32_t timeDateStamp;
    std::uint32_t pointerToSymbolTable;
    std::uint32_t numberOfSymbols;
    std::uint16_t sizeOfOptionalHeader;
    std::uint16_t characteristics;

    static std::optional<FileHeader> read(ByteCursor& cursor) {
        FileHeader h{};
        if (!cursor.fields(h.machine, h.numberOfSections, h.timeDateStamp, h.pointerToSymbolTable,
                           h.numberOfSymbols, h.sizeOfOptionalHeader, h.characteristics)) {
            return std::nullopt;
        }
        return h;
    }
};

// The optional header's fields that locate the signature. Up to CheckSum
// the two kinds agree (PE32's BaseOfData and 32-bit ImageBase take the room
// of PE32+'s 64-bit ImageBase); after it, PE32+ widens the four stack and
// heap sizes to eight bytes.
struct OptionalHeader {
    static constexpr std::size_t checksumOffset = 64;
    std::uint16_t magic;
    std::uint32_t checksum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
    // Just past NumberOfRvaAndSizes, where the data directory begins.
    std::size_t directoriesOffset;

    static std::optional<OptionalHeader> read(ByteCursor& cursor) {
        const std::size_t start = cursor.remaining();
        OptionalHeader h{};
        if (!cursor.fields(h.magic) || (h.magic != pe32Magic && h.magic != pe32PlusMagic)) {
            return std::nullopt;
        }
        const std::size_t sizeFieldWidth = h.magic == pe32Magic ? 4 : 8;
        if (!cursor.skip(checksumOffset - sizeof(h.magic)) ||
            !cursor.fields(h.checksum, h.subsystem, h.dllCharacteristics) || !cursor.skip(4 * sizeFieldWidth) ||
            !cursor.fields(h.loaderFlags, h.numberOfRvaAndSizes)) {
            return std::nullopt;
        }
        h.directoriesOffset = start - cursor.remaining();
        return h;
    }
};

// IMAGE_DATA_DIRECTORY. For the certificate table the address is a file
// offset, not an RVA.
struct DataDirectory {
    static constexpr std::size_t entrySize = 8;
    std::uint32_t virtualAddress;
    std::uint32_t size;
};

}  // namespace

std::optional<PeImage> parsePeImage(Bytes file) {
    ByteCursor dos(file);
    const auto dosHeader = DosHeader::read(dos);
    if (!dosHeader || dosHeader->magic != dosMagic || dosHeader->lfanew > file.size()) {
        return std::nullopt;
    }

    ByteCursor nt(file.subspan(dosHeader->lfanew));
    std::uint32_t signature = 0;
    if (!nt.fields(signature) || signature != peSignature) {
        return std::nullopt;
    }
    const auto fileHeader = FileHeader::read(nt);
    const std::size_t optionalOffset = file.size() - nt.remaining();
    // The whole optional header, as its size says, must be in the file.
    const auto optionalBytes = fileHeader ? nt.bytes(fileHeader->sizeOfOptionalHeader) : std::nullopt;
    if (!optionalBytes) {
        return std::nullopt;
    }
    ByteCursor optional(*optionalBytes);
    const auto optionalHeader = OptionalHeader::read(optional);
    if (!optionalHeader) {
        return std::nullopt;
    }

    PeImage image{};
    image.checksumOffset = optionalOffset + OptionalHeader::checksumOffset;
    image.headersEnd = optionalOffset + optionalBytes->size();

    // The directory has NumberOfRvaAndSizes entries, but never more than the
    // optional header holds.
    DataDirectory certificates{};
    const std::size_t skipped = certificateDirectoryIndex * DataDirectory::entrySize;
    if (optionalHeader->numberOfRvaAndSizes > certificateDirectoryIndex && optional.skip(skipped) &&
        optional.fields(certificates.virtualAddress, certificates.size)) {
        image.certificateDirectoryOffset = optionalOffset + optionalHeader->directoriesOffset + skipped;
        image.certificateTableOffset = certificates.virtualAddress;
        image.certificateTableSize = certificates.size;
    }
    return image;
}

}  // namespace authenticode
