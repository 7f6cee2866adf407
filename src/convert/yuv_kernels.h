#pragma once

#include <cstdint>

#include "convert/yuv_tables.h"

namespace ravdel {

// Row kernels of the YUV converters. Each converts `pairs` horizontal pixel pairs into
// 6 * pairs bytes of blue-green-red; every implementation gives the bytes of the reference
// pixel rule (yuvToBgr) exactly. Sources and destination must not overlap.
struct YuvKernels {
  const char* name;
  // Packed 4:2:2: Y0 U Y1 V per pair, 4 * pairs bytes.
  void (*packedRow)(const YuvTables& t, const std::uint8_t* src, std::uint8_t* dst,
                    std::int32_t pairs);
  // Planar 4:2:0: 2 * pairs Y bytes, pairs U bytes, pairs V bytes for one picture row.
  void (*planarRow)(const YuvTables& t, const std::uint8_t* y, const std::uint8_t* u,
                    const std::uint8_t* v, std::uint8_t* dst, std::int32_t pairs);
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
