// The fixed line numbers that the image library's status reports and the image wrapper's
// assertions carry, one table per reporting file. They are part of the output, not taken
// from the code: callers and tests tell the reports apart by them, so they never move with
// the code.
#pragma once

namespace report_lines {

// iplalloc
// The lines of one allocating operation's checks. Its memory failure is reported one line
// after its header check.
struct AllocateLines {
    int nullImage;
    int hasData;
    int tiled;
    int depth;
    int badHeader;
};
struct IplAllocLines {
    int createBadField = 118;
    int createTooLarge = 123;
    AllocateLines allocate{301, 302, 303, 304, 306};
    AllocateLines allocateFp{331, 332, 333, 334, 336};
};
inline constexpr IplAllocLines kIplAlloc;

// iplsce
struct IplSceLines {
    int badSource = 70;
    int badDestination = 71;
    int depths = 73;
    int origins = 74;
    int dataOrders = 76;
    int tiled = 84;
    int channels = 92;
};
inline constexpr IplSceLines kIplSce;

// iplDIB
struct IplDibLines {
    int nullArgument = 646;
    int alpha = 648;
    int channels = 649;
    int dataOrder = 652;
    int origin = 656;
    int align = 660;
    int height = 666;
    int width = 667;
    int imageSize = 668;
    int widthStep = 669;
    int headerPastEnd = 671;
    int infoSize = 672;
    int planes = 674;
    int compression = 676;
    int rle8BitCount = 681;
    int rle4BitCount = 683;
    int rleTopDown = 685;
    int paletteHuge = 690;
    int palette8 = 691;
    int palette4 = 693;
    int negativeWidth = 695;
    int imageTooSmall = 704;
    int tablePastEnd = 712;
    int zeroMask = 716;
    int rowsPastEnd = 720;
    int imageSizeTooSmall = 730;
    int channelSeq = 790;
    int noMemory = 893;
    int rleFailed = 947;
    int noRoutine = 994;
};
inline constexpr IplDibLines kIplDib;

// src/vx2Image/QimImg
struct QimImgLines {
    int widthAbove0 = 331;
    int heightAbove0 = 332;
    int allocating = 348;
    int noMemory = 350;
    int nullDib = 549;
    int greyHasPixels = 1707;
    int copyHasPixels = 1708;
    int sameWidth = 1709;
    int sameHeight = 1710;
};
inline constexpr QimImgLines kQimImg;

// src/vx2Image/qimImgBase
// The lines of the four checks that a body holds no borrowed parts.
struct BorrowedPartsLines {
    int roi;
    int mask;
    int userData;
    int tileInfo;
};
struct QimImgBaseLines {
    BorrowedPartsLines destroyed{351, 352, 353, 354};
    BorrowedPartsLines released{382, 383, 384, 385};
};
inline constexpr QimImgBaseLines kQimImgBase;

// ownrle, per run-length form
struct RleLines {
    int noMemory;
    int height;
    int delta;
    int position;
    int pastEnd;
};
inline constexpr RleLines kRle8{606, 652, 667, 696, 700};
inline constexpr RleLines kRle4{715, 785, 805, 848, 852};

} // namespace report_lines
