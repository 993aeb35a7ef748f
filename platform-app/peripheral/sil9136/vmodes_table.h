#pragma once

// The HDMI transmitter's timing description of each single-link standard (rows 0 to 20, indexed
// by VideoStd_Index).

#include <cstdint>

// The fields in the transmitter documentation's order, not packed for size.
struct VModeInfoType {  // NOLINT(clang-analyzer-optin.performance.Padding)
    struct {
        uint8_t Mode_C1;  // CEA-861 video code
        uint8_t Mode_C2;
        uint8_t SubMode;
    } ModeId;
    uint32_t PixClk;  // 10 kHz units
    struct {
        uint8_t RefrTypeVHPol;
        uint32_t VFreq;  // field rate, 0.01 Hz
        struct {
            uint32_t Pixels;
            uint32_t Lines;
        } Total;
    } Tag;
    struct {
        uint32_t H;
        uint32_t V;
    } Pos;
    struct {
        uint32_t H;
        uint32_t V;
    } Res;
    uint8_t AspectRatio;
    struct {
        uint8_t IntAdjMode;
        uint32_t HLength;
        uint8_t VLength;
        uint32_t Top;
        uint32_t Dly;
        uint32_t HBit2HSync;
        uint8_t VBit2VSync;
        uint32_t Field2Offset;
    } _656;
    uint8_t PixRep;
    struct {
        uint8_t VactSpace1;
        uint8_t VactSpace2;
        uint8_t Vblank1;
        uint8_t Vblank2;
        uint8_t Vblank3;
    } VsVb;
    uint8_t _3D_Struct;
};

inline constexpr uint32_t VMODES_COUNT = 21;

extern const VModeInfoType VModesTable[VMODES_COUNT];
