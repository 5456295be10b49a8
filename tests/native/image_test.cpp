// TEV_LoadImage on fixtures made by Pillow, ImageMagick, the OpenEXR library
// and a Radiance writer, each successful decode checked pixel by pixel
// against an independent decoder's reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <iterator>
#include <thread>

#include "tevnative.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadFixture(const std::string& name) {
  std::ifstream in(std::string(TEV_IMAGE_FIXTURES) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << name;
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

struct Reference {
  int width = 0, height = 0, format = 0;
  Bytes pixels;
};

Reference ReadReference(const std::string& name) {
  const Bytes raw = ReadFixture(name);
  Reference r;
  if (raw.size() < 9) return r;
  std::memcpy(&r.width, raw.data(), 4);
  std::memcpy(&r.height, raw.data() + 4, 4);
  r.format = raw[8];
  r.pixels.assign(raw.begin() + 9, raw.end());
  return r;
}

// A TEV_Image that records whether the loader touched it.
TEV_Image Sentinel() { return TEV_Image{-7, -7, reinterpret_cast<void*>(0x5a5a), 99}; }
bool Untouched(const TEV_Image& image) {
  return image.width == -7 && image.height == -7 && image.pixels == reinterpret_cast<void*>(0x5a5a) && image.format == 99;
}

TEST(ImageLoading, DecodesLikeAnIndependentDecoder) {
  const struct {
    const char* file;
    const char* reference;
    double tolerance;  // per channel: 8-bit steps, or float units
    bool premultiplied = false;  // libtiff's RGBA reader premultiplies unassociated alpha
  } cases[] = {
      {"png_palette_trns.png", "png_palette_trns.ref", 0},
      {"png_grey16.png", "png_grey16.ref", 1},  // 16 to 8 bits: truncation or rounding
      {"png_rgba.png", "png_rgba.ref", 0},
      {"png_gamma.png", "png_gamma.ref", 1},
      {"jpeg_baseline.jpg", "jpeg_baseline.ref", 2},
      {"jpeg_progressive.jpg", "jpeg_progressive.ref", 2},
      {"jpeg_exif_rotated.jpg", "jpeg_exif_rotated.ref", 2},
      {"tiff_le_none.tif", "tiff_le_none.ref", 1, true},
      {"tiff_be.tif", "tiff_be.ref", 1, true},
      {"tiff_lzw.tif", "tiff_lzw.ref", 1, true},
      {"tiff_packbits.tif", "tiff_packbits.ref", 1, true},
      {"exr_half_rgb.exr", "exr_half_rgb.ref", 0},
      {"exr_float_rgba.exr", "exr_float_rgba.ref", 0},
      {"exr_y_only.exr", "exr_y_only.ref", 0},
      {"exr_uint_rgb.exr", "exr_uint_rgb.ref", 0},
      {"exr_half_rgb_decreasing_zip.exr", "exr_half_rgb_decreasing_zip.ref", 0},
      {"exr_float_rgba_decreasing_piz.exr", "exr_float_rgba_decreasing_piz.ref", 0},
      {"hdr_radiance_flat.hdr", "hdr_radiance_flat.ref", 1e-6},
      {"hdr_rgbe_rle.hdr", "hdr_rgbe_rle.ref", 1e-6},
  };
  for (const auto& c : cases) {
    const Bytes file = ReadFixture(c.file);
    const Reference ref = ReadReference(c.reference);
    TEV_Image image = Sentinel();
    ASSERT_EQ(TEV_LoadImage(file.data(), file.size(), &image), 1) << c.file;
    EXPECT_EQ(image.width, ref.width) << c.file;
    EXPECT_EQ(image.height, ref.height) << c.file;
    EXPECT_EQ(image.format, ref.format) << c.file;
    const std::size_t channels = static_cast<std::size_t>(image.width) * image.height * 4;
    if (image.format == TEV_PIXELS_RGBA8) {
      ASSERT_EQ(ref.pixels.size(), channels) << c.file;
      Bytes want = ref.pixels;
      for (std::size_t i = 0; c.premultiplied && i < channels; ++i) {
        if (i % 4 != 3) want[i] = static_cast<std::uint8_t>((want[i] * want[i - i % 4 + 3] + 127) / 255);
      }
      const auto* got = static_cast<const std::uint8_t*>(image.pixels);
      int worst = 0;
      for (std::size_t i = 0; i < channels; ++i) worst = std::max(worst, std::abs(int{got[i]} - int{want[i]}));
      EXPECT_LE(worst, c.tolerance) << c.file;
    } else {
      ASSERT_EQ(ref.pixels.size(), channels * sizeof(float)) << c.file;
      std::vector<float> want(channels);
      std::memcpy(want.data(), ref.pixels.data(), ref.pixels.size());
      const auto* got = static_cast<const float*>(image.pixels);
      double worst = 0;
      for (std::size_t i = 0; i < channels; ++i) worst = std::max(worst, std::fabs(double{got[i]} - want[i]));
      EXPECT_LE(worst, c.tolerance) << c.file;
    }
    TEV_Free(image.pixels);
  }
}

TEST(ImageLoading, SpecialChannelRules) {
  // Only Y: every pixel 0, 0, 0, 1. Unsigned R, G, B: they count as missing.
  for (const char* name : {"exr_y_only.exr", "exr_uint_rgb.exr"}) {
    const Bytes file = ReadFixture(name);
    TEV_Image image = Sentinel();
    ASSERT_EQ(TEV_LoadImage(file.data(), file.size(), &image), 1) << name;
    const auto* p = static_cast<const float*>(image.pixels);
    for (int i = 0; i < image.width * image.height; ++i) {
      ASSERT_EQ(p[i * 4 + 0], 0.0f) << name;
      ASSERT_EQ(p[i * 4 + 1], 0.0f) << name;
      ASSERT_EQ(p[i * 4 + 2], 0.0f) << name;
      ASSERT_EQ(p[i * 4 + 3], 1.0f) << name;
    }
    TEV_Free(image.pixels);
  }
  // No alpha channel: alpha 1.0 beside the half colours.
  const Bytes file = ReadFixture("exr_half_rgb.exr");
  TEV_Image image = Sentinel();
  ASSERT_EQ(TEV_LoadImage(file.data(), file.size(), &image), 1);
  EXPECT_EQ(static_cast<const float*>(image.pixels)[3], 1.0f);
  EXPECT_EQ(static_cast<const float*>(image.pixels)[0], -0.25f);
  TEV_Free(image.pixels);
}

TEST(ImageLoading, FailuresLeaveTheOutputAloneAndNothingAllocated) {
  const char* files[] = {
      "jpeg_cmyk.jpg",        "tiff_deflate.tif",      "tiff_bigtiff.tif", "tiff_truncated_directory.tif",
      "exr_tiled.exr",        "hdr_crlf.hdr",          "hdr_rle_cut.hdr",  "hdr_rle_zero_count.hdr", "hdr_rle_cut_component.hdr",
      "png_huge_header.png",  "png_truncated.png",
      // Radiance data stb_image would turn into another picture.
      "hdr_old_rle.hdr",      "hdr_old_rle_wide.hdr",  "hdr_rle_then_flat.hdr", "hdr_flat_cut.hdr",
  };
  for (const char* name : files) {
    const Bytes file = ReadFixture(name);
    ASSERT_FALSE(file.empty()) << name;
    TEV_Image image = Sentinel();
    EXPECT_EQ(TEV_LoadImage(file.data(), file.size(), &image), 0) << name;
    EXPECT_TRUE(Untouched(image)) << name;
  }
  const std::string radiance_huge = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 100000 +X 100000\n";
  // For stb a header line that starts with NUL is the blank line ending the
  // header; then the scan line ends where a run count should stand.
  static const char kNulLine[] = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\0junk\n-Y 2 +X 8\n\x02\x02\x00\x08";
  const std::string radiance_nul_line(kNulLine, sizeof kNulLine - 1);
  const struct {
    const char* what;
    std::string bytes;
  } memory[] = {
      {"one byte FF", "\xff"},
      {"unknown signature", "GIF89a......"},
      {"PNG signature only", std::string("\x89PNG\r\n\x1a\n", 8)},
      {"TIFF header only", std::string("II*\0", 4)},
      {"OpenEXR magic only", std::string("\x76\x2f\x31\x01", 4)},
      {"OpenEXR wrong version", std::string("\x76\x2f\x31\x01\x03\x00\x00\x00", 8)},
      {"Radiance identifier only", "#?RGBE"},
      {"Radiance beyond the pixel limit", radiance_huge},
      {"Radiance header with a NUL line, cut inside a scan line", radiance_nul_line},
  };
  for (const auto& c : memory) {
    TEV_Image image = Sentinel();
    EXPECT_EQ(TEV_LoadImage(c.bytes.data(), c.bytes.size(), &image), 0) << c.what;
    EXPECT_TRUE(Untouched(image)) << c.what;
  }
  TEV_Image image = Sentinel();
  EXPECT_EQ(TEV_LoadImage(nullptr, 10, &image), 0);
  EXPECT_EQ(TEV_LoadImage("\xff\xd8", 0, &image), 0);
  EXPECT_TRUE(Untouched(image));
}

TEST(ImageLoading, InputsTheFuzzerFoundFailCleanly) {
  // Each once aborted, double-freed or leaked inside the OpenEXR decoder.
  for (const char* name : {"exr_unknown_type_attribute.exr", "exr_failed_load_double_free.exr",
                           "exr_bad_scanline_leak.exr"}) {
    std::ifstream in(std::string(TEV_IMAGE_REGRESSIONS) + "/" + name, std::ios::binary);
    const Bytes file(std::istreambuf_iterator<char>(in), {});
    ASSERT_FALSE(file.empty()) << name;
    TEV_Image image = Sentinel();
    EXPECT_EQ(TEV_LoadImage(file.data(), file.size(), &image), 0) << name;
    EXPECT_TRUE(Untouched(image)) << name;
  }
}

TEST(ImageLoading, EveryPrefixOfEveryFixtureEnds) {
  // Cut inputs must fail or succeed, never hang or read past the cut (ASan).
  for (const char* name : {"png_rgba.png", "jpeg_progressive.jpg", "tiff_lzw.tif", "tiff_be.tif", "exr_float_rgba.exr",
                           "exr_half_rgb.exr", "hdr_rgbe_rle.hdr", "hdr_radiance_flat.hdr"}) {
    const Bytes file = ReadFixture(name);
    for (std::size_t cut = 1; cut < file.size(); cut += 1 + file.size() / 97) {
      Bytes prefix(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(cut));
      prefix.shrink_to_fit();
      TEV_Image image = Sentinel();
      if (TEV_LoadImage(prefix.data(), prefix.size(), &image) == 1) {
        EXPECT_GT(image.width, 0);
        TEV_Free(image.pixels);
      } else {
        EXPECT_TRUE(Untouched(image)) << name << " cut at " << cut;
      }
    }
  }
}

TEST(ImageLoading, CallsRunOnSeveralThreadsAtOnce) {
  const Bytes png = ReadFixture("png_rgba.png"), exr = ReadFixture("exr_float_rgba.exr"),
              tif = ReadFixture("tiff_lzw.tif"), jpg = ReadFixture("jpeg_baseline.jpg");
  std::atomic<int> failures{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 50; ++i) {
        for (const Bytes* file : {&png, &exr, &tif, &jpg}) {
          TEV_Image image{};
          if (TEV_LoadImage(file->data(), file->size(), &image) != 1) ++failures;
          TEV_Free(image.pixels);
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(failures.load(), 0);
}

}  // namespace
