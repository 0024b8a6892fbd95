// Conversion of a device-independent bitmap in memory into the pixels of an image.
//
// Every pixel passes through three steps: a reader (bitmap format -> working pixel), a
// channel-order step and a writer (working pixel -> image layout). The three are chosen once
// per call; each combination has its own row loop, so the loops carry no format decisions.
#include "image/bitmapInfoHeader.h"
#include "image/iplImage.h"
#include "image/ownrle.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>

namespace {

constexpr const char* kFunction = "iplConvertFromDIB";
constexpr const char* kFile = "iplDIB";
constexpr std::int64_t kInfoHeaderSize = sizeof(BITMAPINFOHEADER);

void report(int status, const char* message, int line) {
    iplReportStatus(status, kFunction, message, kFile, line);
}

// Working pixel: byte 0 blue, 1 green, 2 red, 3 the fourth byte (palette reserved byte or
// alpha field), held in a 32-bit value with byte n at bits 8n to 8n+7.
using Pixel = std::uint32_t;

inline std::uint32_t byteOf(Pixel pixel, int n) {
    return (pixel >> (8 * n)) & 0xFFu;
}

inline std::uint32_t load16(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8);
}

inline std::uint32_t load32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16) |
           (std::uint32_t{p[3]} << 24);
}

inline void store32(std::uint8_t* p, std::uint32_t v) {
    p[0] = static_cast<std::uint8_t>(v);
    p[1] = static_cast<std::uint8_t>(v >> 8);
    p[2] = static_cast<std::uint8_t>(v >> 16);
    p[3] = static_cast<std::uint8_t>(v >> 24);
}

inline void store16(std::uint8_t* p, std::uint16_t v) {
    std::memcpy(p, &v, sizeof(v));
}

// One bit field of a 16- or 32-bit pixel, scaled to 8 bits by shifting (no replication).
struct BitField {
    std::uint32_t mask = 0;
    int shift = 0;
    int width = 0;

    static BitField of(std::uint32_t mask) {
        BitField field;
        if (mask == 0) {
            return field; // no bits: the field reads as 0
        }
        field.mask = mask;
        field.shift = std::countr_zero(mask);
        field.width = std::countr_one(mask >> field.shift);
        return field;
    }

    std::uint32_t extract(std::uint32_t word) const {
        const std::uint32_t value = (word & mask) >> shift;
        const std::uint32_t scaled = width < 8 ? value << (8 - width) : value >> (width - 8);
        return scaled & 0xFFu;
    }
};

// The mask of the bits above the highest colour field (blue preferred on equal shifts, then
// green). When that field reaches bit 31 no bits are left for alpha and the mask is empty;
// wrapping the shift count instead would take the whole word, colour bits included, as alpha.
std::uint32_t alphaMaskAbove(const BitField& red, const BitField& green, const BitField& blue) {
    const BitField* top = &blue;
    if (green.shift > top->shift) {
        top = &green;
    }
    if (red.shift > top->shift) {
        top = &red;
    }
    const unsigned t = static_cast<unsigned>(top->shift + top->width);
    return t >= 32 ? 0u : (0xFFFFFFFFu >> t) << t;
}

// ---- Readers: working pixel of column x of a source row ----

struct ReadPalette1 {
    const Pixel* table;
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        return table[(row[x >> 3] >> (7 - (x & 7))) & 1u];
    }
};

struct ReadPalette4 {
    const Pixel* table;
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        const unsigned byte = row[x >> 1];
        return table[(x & 1) == 0 ? byte >> 4 : byte & 0x0Fu];
    }
};

struct ReadPalette8 {
    const Pixel* table;
    Pixel read(const std::uint8_t* row, std::int64_t x) const { return table[row[x]]; }
};

struct ReadFields16 {
    BitField red;
    BitField green;
    BitField blue;
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        const std::uint32_t word = load16(row + 2 * x);
        return blue.extract(word) | (green.extract(word) << 8) | (red.extract(word) << 16);
    }
};

// 16-bit pixels through a table of all 65536 words, already in the image's channel order.
struct ReadTable16 {
    const Pixel* table;
    Pixel read(const std::uint8_t* row, std::int64_t x) const { return table[load16(row + 2 * x)]; }
};

struct ReadBgr24 {
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        const std::uint8_t* p = row + 3 * x;
        return std::uint32_t{p[0]} | (std::uint32_t{p[1]} << 8) | (std::uint32_t{p[2]} << 16);
    }
};

// Uncompressed 32-bit: 8-bit fields blue, green, red, alpha from the lowest byte up, so the
// working pixel is the word itself.
struct ReadBgra32 {
    Pixel read(const std::uint8_t* row, std::int64_t x) const { return load32(row + 4 * x); }
};

struct ReadFields32 {
    BitField red;
    BitField green;
    BitField blue;
    BitField alpha;
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        const std::uint32_t word = load32(row + 4 * x);
        return blue.extract(word) | (green.extract(word) << 8) | (red.extract(word) << 16) |
               (alpha.extract(word) << 24);
    }
};

// ---- Channel-order steps ----

struct KeepOrder {
    static Pixel apply(Pixel pixel) { return pixel; }
};

struct SwapRedBlue {
    static Pixel apply(Pixel pixel) {
        return (pixel & 0xFF00FF00u) | ((pixel >> 16) & 0xFFu) | ((pixel & 0xFFu) << 16);
    }
};

struct ToGray {
    static Pixel apply(Pixel pixel) {
        const std::uint32_t gray =
            (54 * byteOf(pixel, 2) + 183 * byteOf(pixel, 1) + 18 * byteOf(pixel, 0)) >> 8;
        return (pixel & 0xFF00FFFFu) | (gray << 16);
    }
};

enum class OrderKind { None, Keep, Swap, Gray };

OrderKind orderFor(const char* channelSeq) {
    struct Entry {
        char seq[4];
        OrderKind kind;
    };
    static constexpr Entry kEntries[] = {
        {{'G', 0, 0, 0}, OrderKind::Gray},     {{'G', 'R', 'A', 'Y'}, OrderKind::Gray},
        {{'B', 'G', 'R', 0}, OrderKind::Keep}, {{'B', 'G', 'R', 'A'}, OrderKind::Keep},
        {{'R', 'G', 'B', 0}, OrderKind::Swap}, {{'R', 'G', 'B', 'A'}, OrderKind::Swap},
    };
    for (const Entry& entry : kEntries) {
        if (std::memcmp(entry.seq, channelSeq, 4) == 0) {
            return entry.kind;
        }
    }
    return OrderKind::None;
}

Pixel applyOrder(OrderKind kind, Pixel pixel) {
    switch (kind) {
    case OrderKind::Swap:
        return SwapRedBlue::apply(pixel);
    case OrderKind::Gray:
        return ToGray::apply(pixel);
    default:
        return pixel;
    }
}

// ---- Writers: working pixel into column x of a destination row ----

struct WriteBit {
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        const auto bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
        std::uint8_t& byte = row[x >> 3];
        byte = static_cast<std::uint8_t>(byteOf(pixel, 2) > 127 ? (byte | bit) : (byte & ~bit));
    }
};

struct WriteGray8 {
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        row[x] = static_cast<std::uint8_t>(byteOf(pixel, 2));
    }
};

struct WriteGray16 {
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        store16(row + 2 * x, static_cast<std::uint16_t>(byteOf(pixel, 2) << 8));
    }
};

// Interleaved 4 x 8 bits: the whole working pixel at once.
struct WritePacked4x8 {
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        store32(row + 4 * x, pixel);
    }
};

struct WritePacked3x8 {
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        std::uint8_t* p = row + 3 * x;
        p[0] = static_cast<std::uint8_t>(pixel);
        p[1] = static_cast<std::uint8_t>(pixel >> 8);
        p[2] = static_cast<std::uint8_t>(pixel >> 16);
    }
};

// Channels at distance `distance` bytes, pixels `step` bytes apart (planes or interleaved).
template <int Channels> struct WriteChannels8 {
    std::int64_t distance;
    std::int64_t step;
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        std::uint8_t* p = row + x * step;
        for (int c = 0; c < Channels; ++c) {
            p[c * distance] = static_cast<std::uint8_t>(byteOf(pixel, c));
        }
    }
};

template <int Channels> struct WriteChannels16 {
    std::int64_t distance;
    std::int64_t step;
    void write(std::uint8_t* row, std::int64_t x, Pixel pixel) const {
        std::uint8_t* p = row + x * step;
        for (int c = 0; c < Channels; ++c) {
            store16(p + c * distance, static_cast<std::uint16_t>(byteOf(pixel, c) << 8));
        }
    }
};

enum class WriterKind {
    None,
    Bit,
    Gray8,
    Gray16,
    Packed3x8,
    Packed4x8,
    Channels3x8,
    Channels4x8,
    Channels3x16,
    Channels4x16
};

WriterKind writerFor(const ImageHeader& image) {
    const bool interleaved = image.dataOrder == 0;
    switch (image.nChannels) {
    case 1:
        return image.depth == IPL_DEPTH_1U    ? WriterKind::Bit
               : image.depth == IPL_DEPTH_8U  ? WriterKind::Gray8
               : image.depth == IPL_DEPTH_16U ? WriterKind::Gray16
                                              : WriterKind::None;
    case 3:
        return image.depth == IPL_DEPTH_8U
                   ? (interleaved ? WriterKind::Packed3x8 : WriterKind::Channels3x8)
               : image.depth == IPL_DEPTH_16U ? WriterKind::Channels3x16
                                              : WriterKind::None;
    case 4:
        return image.depth == IPL_DEPTH_8U
                   ? (interleaved ? WriterKind::Packed4x8 : WriterKind::Channels4x8)
               : image.depth == IPL_DEPTH_16U ? WriterKind::Channels4x16
                                              : WriterKind::None;
    default:
        return WriterKind::None;
    }
}

enum class ReaderKind { None, Palette1, Palette4, Palette8, Fields16, Bgr24, Bgra32, Fields32 };

ReaderKind readerFor(const BITMAPINFOHEADER& header) {
    switch (header.biBitCount) {
    case 1:
        return ReaderKind::Palette1;
    case 4:
        return ReaderKind::Palette4;
    case 8:
        return ReaderKind::Palette8;
    case 16:
        return ReaderKind::Fields16;
    case 24:
        return ReaderKind::Bgr24;
    case 32:
        return header.biCompression == BI_BITFIELDS ? ReaderKind::Fields32 : ReaderKind::Bgra32;
    default:
        return ReaderKind::None;
    }
}

// Where the rows are and how many pixels of each are converted.
struct RowPlan {
    const std::uint8_t* srcFirst; // top row of the picture
    std::int64_t srcStep;
    std::uint8_t* dstFirst; // image row that receives the top row
    std::int64_t dstStep;
    std::int64_t rows;
    std::int64_t columns;
    std::int64_t channelDistance; // writer's p
    std::int64_t pixelStep;       // writer's s
};

template <class Reader, class Order, class Writer>
void convertRows(const Reader& reader, const Writer& writer, const RowPlan& plan) {
    const std::uint8_t* src = plan.srcFirst;
    std::uint8_t* dst = plan.dstFirst;
    for (std::int64_t row = 0; row < plan.rows; ++row) {
        for (std::int64_t x = 0; x < plan.columns; ++x) {
            writer.write(dst, x, Order::apply(reader.read(src, x)));
        }
        if (row + 1 < plan.rows) {
            src += plan.srcStep;
            dst += plan.dstStep;
        }
    }
}

template <class Reader, class Order>
void convertWith(const Reader& reader, WriterKind writer, const RowPlan& plan) {
    const std::int64_t p = plan.channelDistance;
    const std::int64_t s = plan.pixelStep;
    switch (writer) {
    case WriterKind::Bit:
        return convertRows<Reader, Order>(reader, WriteBit{}, plan);
    case WriterKind::Gray8:
        return convertRows<Reader, Order>(reader, WriteGray8{}, plan);
    case WriterKind::Gray16:
        return convertRows<Reader, Order>(reader, WriteGray16{}, plan);
    case WriterKind::Packed3x8:
        return convertRows<Reader, Order>(reader, WritePacked3x8{}, plan);
    case WriterKind::Packed4x8:
        return convertRows<Reader, Order>(reader, WritePacked4x8{}, plan);
    case WriterKind::Channels3x8:
        return convertRows<Reader, Order>(reader, WriteChannels8<3>{p, s}, plan);
    case WriterKind::Channels4x8:
        return convertRows<Reader, Order>(reader, WriteChannels8<4>{p, s}, plan);
    case WriterKind::Channels3x16:
        return convertRows<Reader, Order>(reader, WriteChannels16<3>{p, s}, plan);
    case WriterKind::Channels4x16:
        return convertRows<Reader, Order>(reader, WriteChannels16<4>{p, s}, plan);
    case WriterKind::None:
        return;
    }
}

template <class Reader>
void convertOrdered(const Reader& reader, OrderKind order, WriterKind writer, const RowPlan& plan) {
    switch (order) {
    case OrderKind::Keep:
        return convertWith<Reader, KeepOrder>(reader, writer, plan);
    case OrderKind::Swap:
        return convertWith<Reader, SwapRedBlue>(reader, writer, plan);
    case OrderKind::Gray:
        return convertWith<Reader, ToGray>(reader, writer, plan);
    case OrderKind::None:
        return;
    }
}

// The colour masks of a bit-field bitmap (16-bit ones use the low 16 bits of each word).
struct ColourMasks {
    std::uint32_t red;
    std::uint32_t green;
    std::uint32_t blue;
};

ColourMasks readMasks(const std::uint8_t* block, const BITMAPINFOHEADER& header) {
    const std::uint8_t* p = block + header.biSize;
    ColourMasks masks{load32(p), load32(p + 4), load32(p + 8)};
    if (header.biBitCount == 16) {
        masks.red &= 0xFFFFu;
        masks.green &= 0xFFFFu;
        masks.blue &= 0xFFFFu;
    }
    return masks;
}

// Everything the conversion needs from the validated bitmap header.
struct SourceLayout {
    std::int64_t width;
    std::int64_t absHeight;
    std::int64_t tableEntries; // 4-byte entries between the header and the pixel array
    std::int64_t pixelOffset;
    std::int64_t rowBytes;     // padded to 4 bytes
    std::int64_t usedRowBytes; // bytes holding the row's pixels
    bool compressed;
    bool bitFields;
};

SourceLayout sourceLayout(const BITMAPINFOHEADER& header) {
    SourceLayout layout{};
    const std::int64_t bits = header.biBitCount;
    layout.width = header.biWidth;
    layout.absHeight = header.biHeight < 0 ? -std::int64_t{header.biHeight} : header.biHeight;
    layout.compressed = header.biCompression == BI_RLE8 || header.biCompression == BI_RLE4;
    layout.bitFields = header.biCompression == BI_BITFIELDS && (bits == 16 || bits == 32);
    if (bits == 1 || bits == 4 || bits == 8) {
        layout.tableEntries = header.biClrUsed != 0 ? header.biClrUsed : std::int64_t{1} << bits;
    } else if (layout.bitFields) {
        layout.tableEntries = std::int64_t{header.biClrUsed} + 3;
    } else {
        layout.tableEntries = header.biClrUsed;
    }
    layout.pixelOffset = std::int64_t{header.biSize} + 4 * layout.tableEntries;
    layout.rowBytes = (layout.width * bits + 31) / 32 * 4;
    layout.usedRowBytes = (layout.width * bits + 7) / 8;
    return layout;
}

// True when the uncompressed pixel rows lie inside the block's `dibSize` bytes.
bool rowsInsideBlock(const SourceLayout& layout, std::int64_t dibSize) {
    if (layout.absHeight == 0 || layout.width == 0) {
        return true;
    }
    const std::int64_t room = dibSize - layout.pixelOffset - layout.usedRowBytes;
    if (room < 0) {
        return false;
    }
    const std::int64_t rowsBefore = layout.absHeight - 1;
    return rowsBefore == 0 || layout.rowBytes <= room / rowsBefore;
}

// The palette as the readers see it: entry i is the 4 bytes at the table start + 4 i, also
// beyond the table's end while they lie inside the block, zero past the block's end.
void loadPalette(const std::uint8_t* block, std::int64_t dibSize, std::int64_t tableOffset,
                 OrderKind order, std::array<Pixel, 256>& palette) {
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::int64_t offset = tableOffset + 4 * static_cast<std::int64_t>(i);
        const Pixel entry = offset + 4 <= dibSize ? load32(block + offset) : 0;
        palette[i] = applyOrder(order, entry);
    }
}

// Below this many pixels the 16-bit table costs more than it saves.
constexpr std::int64_t kTable16MinPixels = 1 << 18;

// The 16-bit lookup table; no table (null) when it cannot be obtained.
struct Table16 {
    Pixel* data;
    explicit Table16(std::int64_t entries)
        : data(static_cast<Pixel*>(iplAlignedAlloc(entries * std::int64_t{sizeof(Pixel)}))) {}
    ~Table16() { iplAlignedFree(data); }
    Table16(const Table16&) = delete;
    Table16& operator=(const Table16&) = delete;
};

// Frees the decoded run-length block on every path.
struct DecodedBlock {
    std::uint8_t* data = nullptr;
    ~DecodedBlock() { iplAlignedFree(data); }
};

bool imageFieldsValid(const ImageHeader* image) {
    if (image->alphaChannel < 0) {
        report(IPL_StsBadArg, "( image->alphaChannel < 0 )", 648);
        return false;
    }
    if (image->nChannels < image->alphaChannel) {
        report(IPL_StsBadArg, "( image->nChannels < image->alphaChannel )", 649);
        return false;
    }
    if (image->dataOrder != 0 && image->dataOrder != 1) {
        report(IPL_StsBadArg, "( (image->dataOrder != 0) && (image->dataOrder != 1) )", 652);
        return false;
    }
    if (image->origin != 0 && image->origin != 1) {
        report(IPL_StsBadArg, "( (image->origin != 0) && (image->origin != 1) )", 656);
        return false;
    }
    if (image->align != 4 && image->align != 8 && image->align != 16 && image->align != 32) {
        report(IPL_StsBadArg,
               "( (image->align != 4) && (image->align != 8) && (image->align != 16) && "
               "(image->align != 32) )",
               660);
        return false;
    }
    if (image->height <= 0) {
        report(IPL_StsBadArg, "(image->height <= 0)", 666);
        return false;
    }
    if (image->width <= 0) {
        report(IPL_StsBadArg, "(image->width <= 0)", 667);
        return false;
    }
    if (image->imageSize <= 0) {
        report(IPL_StsBadArg, "(image->imageSize <= 0)", 668);
        return false;
    }
    if (image->widthStep <= 0) {
        report(IPL_StsBadArg, "(image->widthStep <= 0)", 669);
        return false;
    }
    return true;
}

bool bitmapFieldsValid(const BITMAPINFOHEADER& dib) {
    if (dib.biSize != sizeof(BITMAPINFOHEADER)) {
        report(IPL_StsBadArg, "(dib->biSize != sizeof(BITMAPINFOHEADER))", 672);
        return false;
    }
    if (dib.biPlanes != 1) {
        report(IPL_StsBadArg, "(dib->biPlanes != 1)", 674);
        return false;
    }
    if (dib.biCompression != BI_RGB && dib.biCompression != BI_RLE8 &&
        dib.biCompression != BI_RLE4 && dib.biCompression != BI_BITFIELDS) {
        report(IPL_StsBadArg,
               "(dib->biCompression != 0) && (dib->biCompression != 1) && (dib->biCompression "
               "!= 2) && (dib->biCompression != 3)",
               676);
        return false;
    }
    if (dib.biBitCount != 8 && dib.biCompression == BI_RLE8) {
        report(IPL_StsBadArg, "(dib->biBitCount != 8) && (dib->biCompression == 1)", 681);
        return false;
    }
    if (dib.biBitCount != 4 && dib.biCompression == BI_RLE4) {
        report(IPL_StsBadArg, "(dib->biBitCount != 4) && (dib->biCompression == 2)", 683);
        return false;
    }
    if (dib.biHeight < 0 && (dib.biCompression == BI_RLE8 || dib.biCompression == BI_RLE4)) {
        report(IPL_StsBadArg,
               "(dib->biHeight < 0) && ( (dib->biCompression == 1) || (dib->biCompression == 2) "
               ")",
               685);
        return false;
    }
    if (dib.biClrUsed > 0x8000) {
        report(IPL_StsBadArg, "(dib->biClrUsed > 0x8000)", 690);
        return false;
    }
    if (dib.biBitCount == 8 && dib.biClrUsed > 256) {
        report(IPL_StsBadArg, "( dib->biBitCount==8 && dib->biClrUsed>256 )", 691);
        return false;
    }
    if (dib.biBitCount == 4 && dib.biClrUsed > 16) {
        report(IPL_StsBadArg, "( dib->biBitCount==4 && dib->biClrUsed>16 )", 693);
        return false;
    }
    if (dib.biWidth < 0) {
        report(IPL_StsBadArg, "(dib->biWidth < 0)", 695);
        return false;
    }
    return true;
}

} // namespace

void iplConvertFromDIB(const BITMAPINFOHEADER* dib, std::int64_t dibSize, ImageHeader* image) {
    if (dib == nullptr) {
        report(IPL_StsBadArg, "dib==0", 646);
    }
    if (image == nullptr) {
        report(IPL_StsBadArg, "image==0", 646);
    }
    if (iplGetStatus() < 0 || dib == nullptr || image == nullptr) {
        return;
    }
    if (!imageFieldsValid(image)) {
        return;
    }
    if (dibSize < kInfoHeaderSize) {
        report(IPL_StsBadArg, "Bitmap block is smaller than its BITMAPINFOHEADER", 671);
        return;
    }
    const auto* block = reinterpret_cast<const std::uint8_t*>(dib);
    BITMAPINFOHEADER header;
    std::memcpy(&header, block, sizeof(header));
    if (!bitmapFieldsValid(header)) {
        return;
    }
    const SourceLayout layout = sourceLayout(header);
    if (image->width < layout.width || image->height < layout.absHeight) {
        report(-10, "Image size is too small", 704);
    }
    if (iplGetStatus() < 0) {
        return;
    }

    // Choose the three steps once.
    const ReaderKind readerKind = readerFor(header);
    if (readerKind == ReaderKind::None) {
        if (iplGetStatus() >= 0) {
            report(IPL_StsInternal, "", 994);
        }
        return;
    }
    const OrderKind order = orderFor(image->channelSeq);
    if (order == OrderKind::None) {
        report(-14, "image->channelSeq unsupport", 790);
    }
    if (iplGetStatus() < 0) {
        return;
    }
    const WriterKind writerKind = writerFor(*image);
    if (writerKind == WriterKind::None) {
        if (iplGetStatus() >= 0) {
            report(IPL_StsInternal, "", 994);
        }
        return;
    }

    // Nothing is read outside the block.
    if (layout.pixelOffset > dibSize) {
        report(IPL_StsBadArg, "Colour table or bit-field masks extend past the bitmap block", 712);
        return;
    }
    ColourMasks masks{};
    if (layout.bitFields) {
        masks = readMasks(block, header);
        if (masks.red == 0 || masks.green == 0 || masks.blue == 0) {
            report(IPL_StsBadArg, "Bit-field bitmap with a colour mask of 0", 716);
            return;
        }
    }
    if (!layout.compressed && !rowsInsideBlock(layout, dibSize)) {
        report(IPL_StsBadArg, "Pixel rows extend past the bitmap block", 720);
        return;
    }

    if (image->imageData == nullptr) {
        iplAllocateImage(image, 0, 0);
        if (image->imageData == nullptr) {
            report(IPL_StsNoMem, "Not enough memory to allocate data for destination image", 893);
            return;
        }
    }

    // Destination geometry; the pixel area must hold every row and plane written.
    const std::int64_t depth = image->depth;
    const bool planar = image->dataOrder == 1;
    const std::int64_t rowBits = planar ? depth : depth * image->nChannels;
    const std::int64_t alignBits = 8 * std::int64_t{image->align};
    const std::int64_t dstRowBytes =
        (std::int64_t{image->width} * rowBits + alignBits - 1) / alignBits * alignBits / 8;
    const std::int64_t planeRowBytes = dstRowBytes * (planar ? image->nChannels : 1);
    if (planeRowBytes > image->imageSize || image->height > image->imageSize / planeRowBytes) {
        report(IPL_StsBadArg, "image->imageSize is too small for the image geometry", 730);
        return;
    }

    DecodedBlock decoded;
    const std::uint8_t* pixels = block + layout.pixelOffset;
    if (layout.compressed) {
        decoded.data = decodeRleDib(dib, dibSize);
        if (decoded.data == nullptr) {
            report(IPL_StsInternal, "Impossible to decompress RLE DIB", 947);
            return;
        }
        pixels = decoded.data;
    }

    RowPlan plan{};
    plan.rows = std::min<std::int64_t>(image->height, layout.absHeight);
    plan.columns = std::min<std::int64_t>(image->width, layout.width);
    if (header.biHeight > 0) {
        plan.srcFirst = pixels + (layout.absHeight - 1) * layout.rowBytes;
        plan.srcStep = -layout.rowBytes;
    } else {
        plan.srcFirst = pixels;
        plan.srcStep = layout.rowBytes;
    }
    auto* imagePixels = reinterpret_cast<std::uint8_t*>(image->imageData);
    if (image->origin == 0) {
        plan.dstFirst = imagePixels;
        plan.dstStep = dstRowBytes;
    } else {
        plan.dstFirst = imagePixels + (std::int64_t{image->height} - 1) * dstRowBytes;
        plan.dstStep = -dstRowBytes;
    }
    const std::int64_t sampleBytes = depth / 8;
    plan.channelDistance = planar ? dstRowBytes * image->height : sampleBytes;
    plan.pixelStep = planar ? sampleBytes : sampleBytes * image->nChannels;

    std::array<Pixel, 256> palette{};
    switch (readerKind) {
    case ReaderKind::Palette1:
    case ReaderKind::Palette4:
    case ReaderKind::Palette8:
        // The channel-order step is applied to the palette once instead of to every pixel.
        loadPalette(block, dibSize, header.biSize, order, palette);
        if (readerKind == ReaderKind::Palette1) {
            convertWith<ReadPalette1, KeepOrder>({palette.data()}, writerKind, plan);
        } else if (readerKind == ReaderKind::Palette4) {
            convertWith<ReadPalette4, KeepOrder>({palette.data()}, writerKind, plan);
        } else {
            convertWith<ReadPalette8, KeepOrder>({palette.data()}, writerKind, plan);
        }
        break;
    case ReaderKind::Fields16: {
        const ColourMasks fields = layout.bitFields ? masks : ColourMasks{0x7C00, 0x03E0, 0x001F};
        const ReadFields16 reader{BitField::of(fields.red), BitField::of(fields.green),
                                  BitField::of(fields.blue)};
        // Large bitmaps: one table of every word's converted pixel beats decoding each pixel.
        Table16 table(plan.rows * plan.columns >= kTable16MinPixels ? 65536 : 0);
        if (table.data != nullptr) {
            for (std::uint32_t word = 0; word < 65536; ++word) {
                const std::uint8_t bytes[2] = {static_cast<std::uint8_t>(word),
                                               static_cast<std::uint8_t>(word >> 8)};
                table.data[word] = applyOrder(order, reader.read(bytes, 0));
            }
            convertWith<ReadTable16, KeepOrder>({table.data}, writerKind, plan);
        } else {
            convertOrdered(reader, order, writerKind, plan);
        }
        break;
    }
    case ReaderKind::Bgr24:
        convertOrdered(ReadBgr24{}, order, writerKind, plan);
        break;
    case ReaderKind::Bgra32:
        convertOrdered(ReadBgra32{}, order, writerKind, plan);
        break;
    case ReaderKind::Fields32: {
        const BitField red = BitField::of(masks.red);
        const BitField green = BitField::of(masks.green);
        const BitField blue = BitField::of(masks.blue);
        const BitField alpha = BitField::of(alphaMaskAbove(red, green, blue));
        convertOrdered(ReadFields32{red, green, blue, alpha}, order, writerKind, plan);
        break;
    }
    case ReaderKind::None:
        break;
    }
}
