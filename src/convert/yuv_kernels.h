#pragma once

#include <cstdint>

#include "convert/yuv_tables.h"

namespace ravdel {

// Row kernels of the YUV converters. Each converts `pairs` horizontal pixel pairs (the grey
// row: `pixels` pixels) into 3 bytes of blue-green-red per pixel and returns the largest
// channel value it wrote (0 for an empty row), which the peak search uses to pass over dark
// rows without reading them again. Every implementation gives the bytes of the reference pixel
// rule (yuvToBgr) exactly. Sources and destination must not overlap.
struct YuvKernels {
  const char* name;
  // Packed 4:2:2: Y0 U Y1 V per pair, 4 * pairs bytes.
  std::uint8_t (*packedRow)(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                            std::int32_t pairs);
  // Packed 4:2:2 the other way round: U Y0 V Y1 per pair, 4 * pairs bytes.
  std::uint8_t (*uyvyRow)(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                          std::int32_t pairs);
  // Planar 4:2:0: 2 * pairs Y bytes, pairs U bytes, pairs V bytes for one picture row.
  std::uint8_t (*planarRow)(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                            const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs);
  // Semi-planar 4:2:0: 2 * pairs Y bytes and 2 * pairs chroma bytes, U V per pair, or V U
  // when vFirst.
  std::uint8_t (*semiPlanarRow)(const YuvTables& t, const std::uint8_t* y,
                                const std::uint8_t* chroma, bool vFirst, std::uint8_t* dst,
                                std::int32_t pairs);
  // Luma only: `pixels` Y bytes, each converted with neutral chroma (U = V = 128).
  std::uint8_t (*greyRow)(const YuvTables& t, const std::uint8_t* y, std::uint8_t* dst,
                          std::int32_t pixels);
};

// Plain C++ kernels, for every machine.
const YuvKernels& portableYuvKernels();

// The fastest kernels this processor runs, chosen once at run time.
// RAVDEL_PORTABLE_KERNELS=1 in the environment forces the portable ones.
const YuvKernels& bestYuvKernels();

// Every kernel set this processor can run, portable first (for tests and benchmarks).
int availableYuvKernelCount();
const YuvKernels& availableYuvKernels(int index);

}  // namespace ravdel
