#pragma once

// The program's analog video norm numbers; each is one bit and a norm may combine several.
inline constexpr int kNormNone = 0;
inline constexpr int kNormNtscM = 0x000001;
inline constexpr int kNormNtscMJapan = 0x000002;
inline constexpr int kNormNtsc443 = 0x000004;
inline constexpr int kNormPalB = 0x000010;
inline constexpr int kNormPalD = 0x000020;  // also PAL D1 and PAL K
inline constexpr int kNormPalG = 0x000040;
inline constexpr int kNormPalH = 0x000080;
inline constexpr int kNormPalI = 0x000100;
inline constexpr int kNormPalM = 0x000200;
inline constexpr int kNormPalN = 0x000400;
inline constexpr int kNormPal60 = 0x000800;
inline constexpr int kNormSecamB = 0x001000;
inline constexpr int kNormSecamD = 0x002000;
inline constexpr int kNormSecamG = 0x004000;
inline constexpr int kNormSecamH = 0x008000;
inline constexpr int kNormSecamK = 0x010000;
inline constexpr int kNormSecamK1 = 0x020000;
inline constexpr int kNormSecamL = 0x040000;
inline constexpr int kNormSecamL1 = 0x080000;    // SECAM L' (V4L2's SECAM LC)
inline constexpr int kNormPalNCombo = 0x100000;  // V4L2's PAL Nc
