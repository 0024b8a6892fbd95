// Conversion of a device-independent bitmap in memory into the pixels of an image.
//
// Every pixel passes through three steps: a reader (bitmap format -> working pixel), a
// channel-order step and a writer (working pixel -> image layout). The three are chosen once
// per call; each combination has its own row loop, so the loops carry no format decisions.
#include "image/dibLayout.h"
#include "image/dibRows.h"
#include "image/imageRefusal.h"
#include "image/iplImage.h"
#include "image/ownrle.h"
#include "image/pixelKernels.h"
#include "util/byteOrder.h"
#include "util/reportLines.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <type_traits>

enum class DibReaderKind : int {
    None,
    Palette1,
    Palette4,
    Palette8,
    Fields16,
    Bgr24,
    Bgra32,
    Fields32
};
enum class DibOrderKind : int { None, Keep, Swap, Gray };
enum class DibWriterKind : int {
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

namespace {

constexpr const char* kFunction = "iplConvertFromDIB";
constexpr const char* kFile = "iplDIB";

constexpr const auto& kLine = report_lines::kIplDib;

void report(int status, const char* message, int line) {
    iplReportStatus(status, kFunction, message, kFile, line);
}

void reportNoRoutine() {
    if (iplGetStatus() >= 0) {
        iplSetStatusReason("the image's channels and depth are not supported");
        report(IPL_StsInternal, "", kLine.noRoutine);
    }
}

// Working pixel: byte 0 blue, 1 green, 2 red, 3 the fourth byte (palette reserved byte or
// alpha field), held in a 32-bit value with byte n at bits 8n to 8n+7.
using Pixel = std::uint32_t;

inline std::uint32_t byteOf(Pixel pixel, int n) {
    return (pixel >> (8 * n)) & 0xFFu;
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
        const std::uint32_t word = loadLe16(row + 2 * x);
        return blue.extract(word) | (green.extract(word) << 8) | (red.extract(word) << 16);
    }
};

// 16-bit pixels through a table of all 65536 words, already in the image's channel order.
struct ReadTable16 {
    const Pixel* table;
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        return table[loadLe16(row + 2 * x)];
    }
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
    Pixel read(const std::uint8_t* row, std::int64_t x) const { return loadLe32(row + 4 * x); }
};

struct ReadFields32 {
    BitField red;
    BitField green;
    BitField blue;
    BitField alpha;
    Pixel read(const std::uint8_t* row, std::int64_t x) const {
        const std::uint32_t word = loadLe32(row + 4 * x);
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

using OrderKind = DibOrderKind;

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
        storeLe32(row + 4 * x, pixel);
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

using WriterKind = DibWriterKind;

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

using ReaderKind = DibReaderKind;

ReaderKind readerFor(const DibLayout& layout) {
    switch (layout.bitCount) {
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
        return layout.bitFields ? ReaderKind::Fields32 : ReaderKind::Bgra32;
    default:
        return ReaderKind::None;
    }
}

// Where the rows of one band are and how many pixels of each are converted.
struct RowPlan {
    const std::uint8_t* srcFirst; // first row of the band as stored
    std::int64_t srcStep;
    std::uint8_t* dstFirst; // image row that receives it
    std::int64_t dstStep;
    std::int64_t rows;
    std::int64_t columns;
    std::int64_t channelDistance; // writer's p
    std::int64_t pixelStep;       // writer's s
};

// ---- Whole-row loops for the common forms: 24- and 32-bit pixels into interleaved 4 x 8 ----
//
// Each converts the leading pixels of a row in blocks and returns how many it converted; the
// caller converts the rest pixel by pixel. A block reads only the stored bytes of its own
// pixels, so a row that ends right after its last pixel is never read past.

template <class Order>
constexpr bool kPackedOrder =
    std::is_same_v<Order, KeepOrder> || std::is_same_v<Order, SwapRedBlue>;

// Four 24-bit pixels (12 bytes) as working pixels with a fourth byte of 0.
inline void unpackBgr24x4(const std::uint8_t* p, Pixel (&pixels)[4]) {
    const std::uint64_t low = loadLe64(p);
    const std::uint64_t high = loadLe32(p + 8);
    pixels[0] = static_cast<Pixel>(low & 0xFFFFFFu);
    pixels[1] = static_cast<Pixel>((low >> 24) & 0xFFFFFFu);
    pixels[2] = static_cast<Pixel>(((low >> 48) | (high << 16)) & 0xFFFFFFu);
    pixels[3] = static_cast<Pixel>(high >> 8);
}

template <class Order>
std::int64_t packBgr24(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns) {
    const DibKernels& kernels = dibKernels();
    std::int64_t x = std::is_same_v<Order, SwapRedBlue> ? kernels.bgr24Swapped(src, dst, columns)
                                                        : kernels.bgr24(src, dst, columns);
    for (; x + 4 <= columns; x += 4) {
        Pixel pixels[4];
        unpackBgr24x4(src + 3 * x, pixels);
        storeLe64(dst + 4 * x,
                  Order::apply(pixels[0]) | std::uint64_t{Order::apply(pixels[1])} << 32);
        storeLe64(dst + 4 * x + 8,
                  Order::apply(pixels[2]) | std::uint64_t{Order::apply(pixels[3])} << 32);
    }
    return x;
}

template <class Order>
std::int64_t packBgra32(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns) {
    if constexpr (std::is_same_v<Order, KeepOrder>) {
        std::memcpy(dst, src, static_cast<std::size_t>(4 * columns));
        return columns;
    } else {
        std::int64_t x = dibKernels().bgra32Swapped(src, dst, columns);
        // Two pixels per 64-bit word: bytes 0 and 2 of each exchanged.
        for (; x + 2 <= columns; x += 2) {
            const std::uint64_t w = loadLe64(src + 4 * x);
            constexpr std::uint64_t kRedBlue = 0x000000FF000000FFull;
            storeLe64(dst + 4 * x, (w & ~(kRedBlue | kRedBlue << 16)) | ((w >> 16) & kRedBlue) |
                                       ((w & kRedBlue) << 16));
        }
        return x;
    }
}

// The pixels of a row that a whole-row loop converts: 0 when none applies.
template <class Reader, class Order, class Writer>
std::int64_t convertRowFast(const std::uint8_t* src, std::uint8_t* dst, std::int64_t columns) {
    if constexpr (std::is_same_v<Writer, WritePacked4x8> && kPackedOrder<Order>) {
        if constexpr (std::is_same_v<Reader, ReadBgr24>) {
            return packBgr24<Order>(src, dst, columns);
        } else if constexpr (std::is_same_v<Reader, ReadBgra32>) {
            return packBgra32<Order>(src, dst, columns);
        }
    }
    return 0;
}

template <class Reader, class Order, class Writer>
void convertRows(const Reader& reader, const Writer& writer, const RowPlan& plan) {
    const std::uint8_t* src = plan.srcFirst;
    std::uint8_t* dst = plan.dstFirst;
    for (std::int64_t row = 0; row < plan.rows; ++row) {
        for (std::int64_t x = convertRowFast<Reader, Order, Writer>(src, dst, plan.columns);
             x < plan.columns; ++x) {
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

// The palette as the readers see it: entry i is the entry at the table start + i entries, also
// beyond the table's end while it lies inside the block, zero past the block's end.
void loadPalette(const DibBlock& block, const DibLayout& layout, OrderKind order,
                 std::array<Pixel, 256>& palette) {
    const std::int64_t bytes = layout.entryBytes;
    for (std::size_t i = 0; i < palette.size(); ++i) {
        const std::int64_t offset = layout.tableOffset + bytes * static_cast<std::int64_t>(i);
        Pixel entry = 0;
        if (offset + bytes <= block.size) {
            const std::uint8_t* p = block.data + offset;
            entry = bytes == 4 ? loadLe32(p) : loadLe16(p) | (std::uint32_t{p[2]} << 16);
        }
        palette[i] = applyOrder(order, entry);
    }
}

// 16-bit pixels: the bitmap's masks, or 5 bits each for uncompressed ones.
ReadFields16 fields16Reader(const DibLayout& layout) {
    const DibMasks masks = layout.bitFields ? layout.masks : DibMasks{0x7C00, 0x03E0, 0x001F};
    return {BitField::of(masks.red), BitField::of(masks.green), BitField::of(masks.blue)};
}

ReadFields32 fields32Reader(const DibLayout& layout) {
    const BitField red = BitField::of(layout.masks.red);
    const BitField green = BitField::of(layout.masks.green);
    const BitField blue = BitField::of(layout.masks.blue);
    return {red, green, blue, BitField::of(alphaMaskAbove(red, green, blue))};
}

// Below this many pixels the 16-bit table costs more than it saves.
constexpr std::int64_t kTable16MinPixels = 1 << 18;

// Frees the decoded run-length block on every path.
struct DecodedBlock {
    std::uint8_t* data = nullptr;
    ~DecodedBlock() { iplAlignedFree(data); }
};

bool imageFieldsValid(const ImageHeader* image) {
    struct FieldCheck {
        bool failed;
        const char* message;
        int line;
    };
    const int align = image->align;
    const FieldCheck checks[] = {
        {image->alphaChannel < 0, "( image->alphaChannel < 0 )", kLine.alpha},
        {image->nChannels < image->alphaChannel, "( image->nChannels < image->alphaChannel )",
         kLine.channels},
        {image->dataOrder != 0 && image->dataOrder != 1,
         "( (image->dataOrder != 0) && (image->dataOrder != 1) )", kLine.dataOrder},
        {image->origin != 0 && image->origin != 1,
         "( (image->origin != 0) && (image->origin != 1) )", kLine.origin},
        {align != 4 && align != 8 && align != 16 && align != 32,
         "( (image->align != 4) && (image->align != 8) && (image->align != 16) && "
         "(image->align != 32) )",
         kLine.align},
        {image->height <= 0, "(image->height <= 0)", kLine.height},
        {image->width <= 0, "(image->width <= 0)", kLine.width},
        {image->imageSize <= 0, "(image->imageSize <= 0)", kLine.imageSize},
        {image->widthStep <= 0, "(image->widthStep <= 0)", kLine.widthStep},
    };
    for (const FieldCheck& check : checks) {
        if (check.failed) {
            report(IPL_StsBadArg, check.message, check.line);
            return false;
        }
    }
    return true;
}

// How each bitmap fault is reported by the conversion.
struct FaultReport {
    DibFault fault;
    int status;
    const char* message;
    int line;
};

constexpr FaultReport kFaultReports[] = {
    {DibFault::HeaderPastEnd, IPL_StsBadArg, "Bitmap block is smaller than its BITMAPINFOHEADER",
     kLine.headerPastEnd},
    {DibFault::InfoSize, IPL_StsBadArg, "(dib->biSize != sizeof(BITMAPINFOHEADER))",
     kLine.infoSize},
    {DibFault::Planes, IPL_StsBadArg, "(dib->biPlanes != 1)", kLine.planes},
    {DibFault::Compression, IPL_StsBadArg,
     "(dib->biCompression != 0) && (dib->biCompression != 1) && (dib->biCompression != 2) && "
     "(dib->biCompression != 3)",
     kLine.compression},
    {DibFault::Rle8BitCount, IPL_StsBadArg, "(dib->biBitCount != 8) && (dib->biCompression == 1)",
     kLine.rle8BitCount},
    {DibFault::Rle4BitCount, IPL_StsBadArg, "(dib->biBitCount != 4) && (dib->biCompression == 2)",
     kLine.rle4BitCount},
    {DibFault::RleTopDown, IPL_StsBadArg,
     "(dib->biHeight < 0) && ( (dib->biCompression == 1) || (dib->biCompression == 2) )",
     kLine.rleTopDown},
    {DibFault::PaletteHuge, IPL_StsBadArg, "(dib->biClrUsed > 0x8000)", kLine.paletteHuge},
    {DibFault::Palette8TooLarge, IPL_StsBadArg, "( dib->biBitCount==8 && dib->biClrUsed>256 )",
     kLine.palette8},
    {DibFault::Palette4TooLarge, IPL_StsBadArg, "( dib->biBitCount==4 && dib->biClrUsed>16 )",
     kLine.palette4},
    {DibFault::NegativeWidth, IPL_StsBadArg, "(dib->biWidth < 0)", kLine.negativeWidth},
    {DibFault::BitCount, IPL_StsInternal, "", kLine.noRoutine},
    {DibFault::TablePastEnd, IPL_StsBadArg,
     "Colour table or bit-field masks extend past the bitmap block", kLine.tablePastEnd},
    {DibFault::ZeroMask, IPL_StsBadArg, "Bit-field bitmap with a colour mask of 0", kLine.zeroMask},
    {DibFault::RowsPastEnd, IPL_StsBadArg, "Pixel rows extend past the bitmap block",
     kLine.rowsPastEnd},
};

void reportFault(const DibStatus& status) {
    reportImageRefusal(dibRefusal(status));
}

// Validate: the image's fields, the bitmap's header and the image's size. True when the
// conversion may go on; `layout` then describes the bitmap.
bool validate(const DibBlock& block, ImageHeader* image, DibLayout& layout) {
    if (!imageFieldsValid(image)) {
        return false;
    }
    const DibStatus described = describeDib(block, layout);
    // An unknown bit count is found when the pixel reader is chosen, after the size check.
    if (!described.ok() && described.fault != DibFault::BitCount) {
        reportFault(described);
        return false;
    }
    if (image->width < layout.width || image->height < layout.height) {
        iplSetStatusReason("the image is smaller than the bitmap");
        report(-10, "Image size is too small", kLine.imageTooSmall);
    }
    if (iplGetStatus() < 0) {
        return false;
    }
    if (described.fault == DibFault::BitCount) {
        reportFault(described);
        return false;
    }
    return true;
}

} // namespace

ImageRefusal dibRefusal(const DibStatus& status) {
    for (const FaultReport& entry : kFaultReports) {
        if (entry.fault == status.fault) {
            return {entry.status, kFunction, entry.message, kFile, entry.line, status.reason};
        }
    }
    return {};
}

std::int64_t imageRowBytes(const ImageHeader& image) {
    const std::int64_t depth = image.depth & IPL_DEPTH_MASK;
    const std::int64_t bits = image.dataOrder == 1 ? depth : depth * image.nChannels;
    return rowStep(std::int64_t{image.width} * bits, image.align);
}

DibRowConverter::DibRowConverter(const DibBlock& block, const DibLayout& layout,
                                 const ImageHeader& image)
    : layout_(layout), reader_(readerFor(layout)), order_(orderFor(image.channelSeq)),
      writer_(writerFor(image)) {
    const std::int64_t sampleBytes = image.depth / 8;
    const bool planar = image.dataOrder == 1;
    channelDistance_ = planar ? imageRowBytes(image) * image.height : sampleBytes;
    pixelStep_ = planar ? sampleBytes : sampleBytes * image.nChannels;
    columns_ = std::min<std::int64_t>(image.width, layout.width);
    if (!ready()) {
        return;
    }
    switch (reader_) {
    case ReaderKind::Palette1:
    case ReaderKind::Palette4:
    case ReaderKind::Palette8:
        // The channel-order step is applied to the palette once instead of to every pixel.
        loadPalette(block, layout, order_, palette_);
        break;
    case ReaderKind::Fields16: {
        // Large bitmaps: one table of every word's converted pixel beats decoding each pixel.
        if (layout.width * layout.height >= kTable16MinPixels) {
            table16_.reset(static_cast<Pixel*>(iplAlignedAlloc(65536 * std::int64_t{4})));
        }
        if (table16_) {
            const ReadFields16 reader = fields16Reader(layout);
            for (std::uint32_t word = 0; word < 65536; ++word) {
                std::uint8_t bytes[2];
                storeLe16(bytes, word);
                table16_.get()[word] = applyOrder(order_, reader.read(bytes, 0));
            }
        }
        break;
    }
    default:
        break;
    }
}

bool DibRowConverter::ready() const {
    return order_ != OrderKind::None && writer_ != WriterKind::None;
}

void DibRowConverter::convert(const std::uint8_t* rows, std::int64_t y0, std::int64_t y1,
                              std::uint8_t* destination, std::int64_t destinationStep) const {
    if (!ready() || y1 <= y0) {
        return;
    }
    RowPlan plan{};
    const std::int64_t step = layout_.rowBytes;
    const std::int64_t stored = layout_.bottomUp ? layout_.height - 1 - y0 : y0;
    plan.srcFirst = rows + stored * step;
    plan.srcStep = layout_.bottomUp ? -step : step;
    plan.dstFirst = destination;
    plan.dstStep = destinationStep;
    plan.rows = y1 - y0;
    plan.columns = columns_;
    plan.channelDistance = channelDistance_;
    plan.pixelStep = pixelStep_;
    switch (reader_) {
    case ReaderKind::Palette1:
        return convertWith<ReadPalette1, KeepOrder>({palette_.data()}, writer_, plan);
    case ReaderKind::Palette4:
        return convertWith<ReadPalette4, KeepOrder>({palette_.data()}, writer_, plan);
    case ReaderKind::Palette8:
        return convertWith<ReadPalette8, KeepOrder>({palette_.data()}, writer_, plan);
    case ReaderKind::Fields16:
        if (table16_) {
            return convertWith<ReadTable16, KeepOrder>({table16_.get()}, writer_, plan);
        }
        return convertOrdered(fields16Reader(layout_), order_, writer_, plan);
    case ReaderKind::Bgr24:
        return convertOrdered(ReadBgr24{}, order_, writer_, plan);
    case ReaderKind::Bgra32:
        return convertOrdered(ReadBgra32{}, order_, writer_, plan);
    case ReaderKind::Fields32:
        return convertOrdered(fields32Reader(layout_), order_, writer_, plan);
    case ReaderKind::None:
        return;
    }
}

void iplConvertFromDIB(const BITMAPINFOHEADER* dib, std::int64_t dibSize, ImageHeader* image) {
    DibBlock block;
    block.data = reinterpret_cast<const std::uint8_t*>(dib);
    block.size = dibSize;
    iplConvertDib(dib != nullptr ? &block : nullptr, image);
}

namespace {

// Every check the conversion makes before it converts (arguments, the image's fields, the
// bitmap's form and the extent of its parts), reporting the first refusal; fills `layout`.
bool checkDib(const DibBlock* block, ImageHeader* image, DibLayout& layout) {
    if (block == nullptr || block->data == nullptr) {
        report(IPL_StsBadArg, "dib==0", kLine.nullArgument);
    }
    if (image == nullptr) {
        report(IPL_StsBadArg, "image==0", kLine.nullArgument);
    }
    if (iplGetStatus() < 0 || block == nullptr || block->data == nullptr || image == nullptr) {
        return false;
    }
    iplSetStatusReason("");
    if (!validate(*block, image, layout)) {
        return false;
    }

    // Describe: the routines for this bitmap and image, and where its parts lie.
    if (orderFor(image->channelSeq) == OrderKind::None) {
        iplSetStatusReason("the image's channel sequence is not supported");
        report(-14, "image->channelSeq unsupport", kLine.channelSeq);
        return false;
    }
    if (writerFor(*image) == WriterKind::None) {
        reportNoRoutine();
        return false;
    }
    if (const DibStatus extent = checkDibExtent(*block, layout); !extent.ok()) {
        reportFault(extent);
        return false;
    }
    return true;
}

} // namespace

void iplConvertDib(const DibBlock* block, ImageHeader* image) {
    DibLayout layout;
    if (!checkDib(block, image, layout)) {
        return;
    }
    const DibRowConverter converter(*block, layout, *image);

    // Convert.
    if (image->imageData == nullptr) {
        iplAllocateImage(image, 0, 0);
        if (image->imageData == nullptr) {
            iplSetStatusReason("not enough memory for the image");
            report(IPL_StsNoMem, "Not enough memory to allocate data for destination image",
                   kLine.noMemory);
            return;
        }
    }
    // The pixel area must hold every row and plane written.
    const std::int64_t dstRowBytes = imageRowBytes(*image);
    const std::int64_t planeRowBytes = dstRowBytes * (image->dataOrder == 1 ? image->nChannels : 1);
    if (planeRowBytes > image->imageSize || image->height > image->imageSize / planeRowBytes) {
        iplSetStatusReason("the image's pixel area is too small for its size");
        report(IPL_StsBadArg, "image->imageSize is too small for the image geometry",
               kLine.imageSizeTooSmall);
        return;
    }
    DecodedBlock decoded;
    const std::uint8_t* rows = block->data + layout.pixelOffset;
    if (layout.runLength) {
        decoded.data = decodeRleRows(*block, layout);
        if (decoded.data == nullptr) {
            report(IPL_StsInternal, "Impossible to decompress RLE DIB", kLine.rleFailed);
            return;
        }
        rows = decoded.data;
    }
    auto* pixels = reinterpret_cast<std::uint8_t*>(image->imageData);
    std::uint8_t* topRow =
        image->origin == 0 ? pixels : pixels + (std::int64_t{image->height} - 1) * dstRowBytes;
    const std::int64_t rowCount = std::min<std::int64_t>(image->height, layout.height);
    converter.convert(rows, 0, rowCount, topRow, image->origin == 0 ? dstRowBytes : -dstRowBytes);
}
