// Checks a snapshot of the simulated camera's test chart, as the capture
// tool saved it (24-bit BMP): upright with the orientation marker at the top
// left, colour patches of the right hue, a grey ramp that rises from left to
// right on a neutral grey ground. Prints the region means it measured.
//   check_snapshot <snapshot.bmp>
// Or checks that two snapshots of the chart are the same picture, byte for
// byte, but for the frame-number stamp the simulated camera puts into every
// frame (its bottom right corner, upright):
//   check_snapshot --same <a.bmp> <b.bmp>

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<unsigned char> bgr;  // top-down rows
};

bool Load(const char* path, Picture& picture)
{
    std::FILE* file = std::fopen(path, "rb");
    if (!file)
        return false;
    BITMAPFILEHEADER header;
    BITMAPINFOHEADER info;
    bool ok = std::fread(&header, sizeof header, 1, file) == 1 && std::fread(&info, sizeof info, 1, file) == 1 &&
              header.bfType == 0x4D42 && info.biBitCount == 24 && info.biWidth > 0 && info.biHeight != 0;
    if (ok) {
        picture.width = info.biWidth;
        picture.height = info.biHeight < 0 ? -info.biHeight : info.biHeight;
        const size_t stride = (static_cast<size_t>(picture.width) * 3 + 3) & ~size_t{3};
        std::vector<unsigned char> rows(stride * picture.height);
        std::fseek(file, static_cast<long>(header.bfOffBits), SEEK_SET);
        ok = std::fread(rows.data(), 1, rows.size(), file) == rows.size();
        picture.bgr.resize(static_cast<size_t>(picture.width) * picture.height * 3);
        for (int y = 0; y < picture.height; ++y) {
            const int source = info.biHeight > 0 ? picture.height - 1 - y : y;
            std::copy(rows.begin() + static_cast<long>(source * stride),
                      rows.begin() + static_cast<long>(source * stride + picture.width * 3),
                      picture.bgr.begin() + static_cast<long>(y) * picture.width * 3);
        }
    }
    std::fclose(file);
    return ok;
}

struct Mean {
    double r, g, b;
};

// Mean colour of a box given in thousandths of the picture.
Mean Region(const Picture& p, int u0, int v0, int u1, int v1)
{
    double sum[3] = {0, 0, 0};
    long count = 0;
    for (int y = v0 * p.height / 1000; y < v1 * p.height / 1000; ++y)
        for (int x = u0 * p.width / 1000; x < u1 * p.width / 1000; ++x) {
            const unsigned char* px = &p.bgr[(static_cast<size_t>(y) * p.width + x) * 3];
            sum[0] += px[2], sum[1] += px[1], sum[2] += px[0];
            ++count;
        }
    return {sum[0] / count, sum[1] / count, sum[2] / count};
}

int g_failures = 0;

void Check(bool condition, const char* what, const Mean& m)
{
    std::printf("%-34s R %5.1f  G %5.1f  B %5.1f  %s\n", what, m.r, m.g, m.b, condition ? "ok" : "WRONG");
    if (!condition)
        ++g_failures;
}

bool High(double v) { return v > 150; }
bool Low(double v) { return v < 90; }

// The stamp: raw rows and columns 8 .. 8 + 16 x 8 of the sensor, which the
// lens puts at the bottom right; one more pixel each side for the colour
// reconstruction.
constexpr int kStampRows = 8 + 8 + 1;
constexpr int kStampColumns = 8 + 16 * 8 + 1;

int Same(const char* first, const char* second)
{
    Picture a, b;
    if (!Load(first, a) || !Load(second, b)) {
        std::printf("check_snapshot: cannot read %s or %s\n", first, second);
        return 2;
    }
    if (a.width != b.width || a.height != b.height) {
        std::printf("check_snapshot: %d x %d and %d x %d\n", a.width, a.height, b.width, b.height);
        return 1;
    }
    long outside = 0, inside = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const std::size_t i = (static_cast<std::size_t>(y) * a.width + x) * 3;
            if (a.bgr[i] == b.bgr[i] && a.bgr[i + 1] == b.bgr[i + 1] && a.bgr[i + 2] == b.bgr[i + 2])
                continue;
            if (y >= a.height - kStampRows && x >= a.width - kStampColumns)
                ++inside;
            else
                ++outside;
        }
    std::printf("check_snapshot: %ld pixels differ outside the frame-number stamp, %ld inside it\n", outside, inside);
    return outside == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "--same") == 0)
        return Same(argv[2], argv[3]);
    Picture p;
    if (argc != 2 || !Load(argv[1], p)) {
        std::printf("check_snapshot: cannot read %s\n", argc > 1 ? argv[1] : "(nothing)");
        return 2;
    }
    std::printf("%s: %d x %d\n", argv[1], p.width, p.height);
    const Mean marker = Region(p, 45, 60, 115, 150);
    Check(High(marker.r) && High(marker.g) && High(marker.b), "orientation marker (top left)", marker);
    const Mean opposite = Region(p, 885, 60, 955, 150);
    Check(!High(opposite.g), "no marker at the top right", opposite);
    const Mean bottomLeft = Region(p, 45, 910, 115, 980);
    Check(!High(bottomLeft.g), "no marker at the bottom left", bottomLeft);

    const Mean red = Region(p, 270, 270, 380, 430);
    Check(High(red.r) && Low(red.g) && Low(red.b), "red patch", red);
    const Mean green = Region(p, 445, 270, 555, 430);
    Check(High(green.g) && Low(green.r) && Low(green.b), "green patch", green);
    const Mean blue = Region(p, 620, 270, 730, 430);
    Check(High(blue.b) && Low(blue.r) && Low(blue.g), "blue patch", blue);
    const Mean cyan = Region(p, 270, 495, 380, 655);
    Check(High(cyan.g) && High(cyan.b) && Low(cyan.r), "cyan patch", cyan);
    const Mean magenta = Region(p, 445, 495, 555, 655);
    Check(High(magenta.r) && High(magenta.b) && Low(magenta.g), "magenta patch", magenta);
    const Mean yellow = Region(p, 620, 495, 730, 655);
    Check(High(yellow.r) && High(yellow.g) && Low(yellow.b), "yellow patch", yellow);

    const Mean ground = Region(p, 820, 300, 950, 600);
    Check(std::abs(ground.r - ground.g) < 25 && std::abs(ground.g - ground.b) < 25 && ground.g > 50 && ground.g < 200,
          "grey ground", ground);
    const Mean dark = Region(p, 50, 790, 150, 870);
    const Mean middle = Region(p, 450, 790, 550, 870);
    const Mean light = Region(p, 850, 790, 950, 870);
    Check(dark.g < middle.g && middle.g < light.g && light.g - dark.g > 100, "grey ramp rises to the right", middle);

    std::printf(g_failures ? "check_snapshot: %d checks failed\n" : "check_snapshot: the chart is right\n", g_failures);
    return g_failures ? 1 : 0;
}
