// Draws the bundled sample images, so the project ships no third-party
// pictures: a landscape, the same scene cut out on a transparent layer, and a
// soft oval selection mask to go with it.
#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kWidth = 1200, kHeight = 800;

double Smooth(double e0, double e1, double x) {
  const double t = std::clamp((x - e0) / (e1 - e0), 0.0, 1.0);
  return t * t * (3 - 2 * t);
}

void Mix(double* c, const double* to, double t) {
  for (int i = 0; i < 3; ++i) c[i] += (to[i] - c[i]) * t;
}

bool WritePng(const std::string& path, int channels, const std::vector<unsigned char>& pixels, int width = kWidth,
              int height = kHeight) {
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(f);
    return false;
  }
  png_init_io(png, f);
  const int type = channels == 1 ? PNG_COLOR_TYPE_GRAY : channels == 3 ? PNG_COLOR_TYPE_RGB : PNG_COLOR_TYPE_RGBA;
  png_set_IHDR(png, info, width, height, 8, type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_set_pHYs(png, info, 2835, 2835, PNG_RESOLUTION_METER);  // 72 pixels per inch
  png_write_info(png, info);
  for (int y = 0; y < height; ++y)
    png_write_row(png, const_cast<unsigned char*>(&pixels[size_t(y) * width * channels]));
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  return std::fclose(f) == 0;
}

void Landscape(int x, int y, double* c, int width = kWidth, int height = kHeight) {
  const double u = double(x) / width, v = double(y) / height;
  const double zenith[3] = {40, 90, 170}, horizon[3] = {250, 190, 140};
  for (int i = 0; i < 3; ++i) c[i] = zenith[i] + (horizon[i] - zenith[i]) * Smooth(0.0, 0.55, v);
  const double sun[3] = {255, 240, 200};
  const double d = std::hypot(u - 0.68, (v - 0.36) * 0.66);
  Mix(c, sun, 1 - Smooth(0.05, 0.065, d));
  Mix(c, sun, 0.35 * (1 - Smooth(0.06, 0.25, d)));
  const double far = 0.52 + 0.04 * std::sin(u * 9 + 1) + 0.02 * std::sin(u * 23);
  const double farColor[3] = {120, 110, 150};
  Mix(c, farColor, Smooth(far - 0.002, far + 0.002, v));
  const double near = 0.62 + 0.05 * std::sin(u * 5 + 2) + 0.015 * std::sin(u * 31);
  const double nearColor[3] = {60, 95, 60};
  Mix(c, nearColor, Smooth(near - 0.002, near + 0.002, v));
  if (v > 0.78) {  // a lake mirrors the sky
    const double mirror = 0.55 * (1 - (v - 0.78) / 0.22);
    double sky[3];
    for (int i = 0; i < 3; ++i) sky[i] = zenith[i] + (horizon[i] - zenith[i]) * Smooth(0.0, 0.55, mirror);
    const double ripple = 0.5 + 0.5 * std::sin(y * 1.7 + std::sin(x * 0.05) * 3);
    for (double& s : sky) s *= 0.8 + 0.08 * ripple;
    Mix(c, sky, Smooth(0.78, 0.785, v));
  }
  for (int t = 0; t < 9; ++t) {  // a few fir trees on the near hill
    const double tx = 0.08 + t * 0.105 + 0.02 * std::sin(t * 7.0);
    const double base = 0.66 + 0.05 * std::sin(tx * 5 + 2), top = base - 0.10 - 0.03 * std::sin(t * 3.0);
    if (v > top && v < base && std::fabs(u - tx) < (v - top) * 0.35) {
      const double tree[3] = {25, 55, 35};
      Mix(c, tree, 0.9);
    }
  }
}

// The landscape alone at any size, for the batch benchmark's pictures.
int LandscapeOfSize(int width, int height, const std::string& file) {
  std::vector<unsigned char> rgb(size_t(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      double c[3];
      Landscape(x, y, c, width, height);
      for (int k = 0; k < 3; ++k) rgb[(size_t(y) * width + x) * 3 + k] = (unsigned char)std::clamp(c[k] + 0.5, 0.0, 255.0);
    }
  if (WritePng(file, 3, rgb, width, height)) return 0;
  std::fprintf(stderr, "make_samples: cannot write %s\n", file.c_str());
  return 1;
}

}  // namespace

// make_samples FOLDER, or make_samples --landscape WIDTH HEIGHT FILE.
int main(int argc, char** argv) {
  if (argc == 5 && std::string(argv[1]) == "--landscape")
    return LandscapeOfSize(std::max(1, std::atoi(argv[2])), std::max(1, std::atoi(argv[3])), argv[4]);
  const std::string folder = argc > 1 ? argv[1] : ".";
  std::vector<unsigned char> rgb(size_t(kWidth) * kHeight * 3), rgba(size_t(kWidth) * kHeight * 4),
      mask(size_t(kWidth) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      double c[3];
      Landscape(x, y, c);
      const size_t i = size_t(y) * kWidth + x;
      for (int k = 0; k < 3; ++k) rgb[i * 3 + k] = rgba[i * 4 + k] = (unsigned char)std::clamp(c[k] + 0.5, 0.0, 255.0);
      // The layer: a rounded card with a wavy edge, soft at its border.
      const double dx = (x - kWidth / 2.0) / (kWidth * 0.40), dy = (y - kHeight / 2.0) / (kHeight * 0.38);
      const double r = std::pow(std::pow(std::fabs(dx), 4) + std::pow(std::fabs(dy), 4), 0.25) +
                       0.03 * std::sin(std::atan2(dy, dx) * 9);
      rgba[i * 4 + 3] = (unsigned char)(255 * (1 - Smooth(0.97, 1.0, r)));
      const double e = std::hypot((x - kWidth * 0.45) / (kWidth * 0.30), (y - kHeight * 0.5) / (kHeight * 0.32));
      mask[i] = (unsigned char)(255 * (1 - Smooth(0.9, 1.0, e)));
    }
  }
  // A quarter-size copy for the help pages' pictures.
  std::vector<unsigned char> small(size_t(kWidth / 4) * (kHeight / 4) * 3);
  for (int y = 0; y < kHeight / 4; ++y)
    for (int x = 0; x < kWidth / 4; ++x)
      for (int k = 0; k < 3; ++k) {
        int sum = 0;
        for (int v = 0; v < 4; ++v)
          for (int u = 0; u < 4; ++u) sum += rgb[((size_t(y) * 4 + v) * kWidth + x * 4 + u) * 3 + k];
        small[(size_t(y) * (kWidth / 4) + x) * 3 + k] = (unsigned char)((sum + 8) / 16);
      }
  const bool ok = WritePng(folder + "/landscape.png", 3, rgb) && WritePng(folder + "/layer.png", 4, rgba) &&
                  WritePng(folder + "/oval-selection.png", 1, mask) &&
                  WritePng(folder + "/landscape-small.png", 3, small, kWidth / 4, kHeight / 4);
  if (!ok) std::fprintf(stderr, "make_samples: cannot write the sample images into %s\n", folder.c_str());
  return ok ? 0 : 1;
}
