#include "CtlSupport.h"

#include <png.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>
// jpeglib.h needs FILE and size_t declared first.
#include <jpeglib.h>

namespace pixkey::ctl {

using namespace std::chrono_literals;

int fail(int code, const std::string &message)
{
    std::fprintf(stderr, "pixkeyctl: %s\n", message.c_str());
    return code;
}

int usageError(const std::string &message, const char *usage)
{
    std::fprintf(stderr, "pixkeyctl: %s\n", message.c_str());
    if (usage)
        std::fprintf(stderr, "usage: pixkeyctl [--port PATH] %s\n", usage);
    std::fprintf(stderr, "Try 'pixkeyctl --help'.\n");
    return ExitUsage;
}

bool parseInt(const std::string &text, long min, long max, long &value)
{
    if (text.empty())
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text.c_str(), &end, 10);
    if (errno || *end || v < min || v > max)
        return false;
    value = v;
    return true;
}

bool parseOptions(std::vector<std::string> &args, CtlOptions &options, std::string &error)
{
    std::vector<std::string> rest;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string a = args[i];
        std::string value;
        bool inlineValue = false;
        if (a.rfind("--", 0) == 0) {
            const auto eq = a.find('=');
            if (eq != std::string::npos) {
                value = a.substr(eq + 1);
                a.resize(eq);
                inlineValue = true;
            }
        }
        auto takeValue = [&]() -> bool {
            if (inlineValue)
                return true;
            if (i + 1 >= args.size()) {
                error = a + " needs a value";
                return false;
            }
            value = args[++i];
            return true;
        };
        long n = 0;
        if (a == "--hold") {
            if (inlineValue) {
                error = "--hold takes no value";
                return false;
            }
            options.hold = true;
        } else if (a == "--port") {
            if (!takeValue())
                return false;
            if (value.empty()) {
                error = "--port needs a path";
                return false;
            }
            options.port = value;
        } else if (a == "--orientation") {
            if (!takeValue())
                return false;
            if (!parseInt(value, 0, 3, n)) {
                error = "--orientation must be 0, 1, 2 or 3";
                return false;
            }
            options.orientation = static_cast<int>(n);
        } else if (a == "--brightness") {
            if (!takeValue())
                return false;
            if (!parseInt(value, 0, 2, n)) {
                error = "--brightness must be 0, 1 or 2";
                return false;
            }
            options.brightness = static_cast<int>(n);
        } else if (a == "--white-balance") {
            if (!takeValue())
                return false;
            if (!parseInt(value, 1000, 40000, n)) {
                error = "--white-balance must be a colour temperature from 1000 to 40000 (kelvin)";
                return false;
            }
            options.whiteBalance = static_cast<int>(n);
        } else if (a == "--gamma") {
            if (!takeValue())
                return false;
            char *end = nullptr;
            errno = 0;
            const double g = std::strtod(value.c_str(), &end);
            if (value.empty() || errno || *end || !std::isfinite(g) || g < 0.1 || g > 10) {
                error = "--gamma must be a number from 0.1 to 10";
                return false;
            }
            options.gamma = g;
        } else if (a.size() > 1 && a[0] == '-' && !(a.size() > 1 && std::isdigit(static_cast<unsigned char>(a[1])))) {
            error = "unknown option '" + a + "'";
            return false;
        } else {
            rest.push_back(args[i]);
        }
    }
    args = std::move(rest);
    return true;
}

// --- pictures ------------------------------------------------------------------------------

namespace {

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};
using File = std::unique_ptr<FILE, FileCloser>;

bool loadPng(const std::string &path, RgbImage &image, std::string &error)
{
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (!png_image_begin_read_from_file(&png, path.c_str())) {
        error = std::string("not a readable PNG (") + png.message + ")";
        return false;
    }
    if (png.width == 0 || png.height == 0 || png.width > 16384 || png.height > 16384) {
        png_image_free(&png);
        error = "picture too large or empty";
        return false;
    }
    png.format = PNG_FORMAT_RGB;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels.assign(PNG_IMAGE_SIZE(png), 0);
    // Transparent parts are composed onto black, like the face's background.
    png_color black{0, 0, 0};
    if (!png_image_finish_read(&png, &black, image.pixels.data(), 0, nullptr)) {
        error = std::string("broken PNG (") + png.message + ")";
        png_image_free(&png);
        return false;
    }
    return true;
}

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    char message[JMSG_LENGTH_MAX];
};

void jpegFail(j_common_ptr info)
{
    auto *err = reinterpret_cast<JpegError *>(info->err);
    (*info->err->format_message)(info, err->message);
    std::longjmp(err->jump, 1);
}

bool loadJpeg(FILE *file, RgbImage &image, std::string &error)
{
    jpeg_decompress_struct info{};
    JpegError err{};
    info.err = jpeg_std_error(&err.manager);
    err.manager.error_exit = jpegFail;
    // Only plain data is touched between setjmp and longjmp; the vector is sized before reading.
    if (setjmp(err.jump)) {
        jpeg_destroy_decompress(&info);
        error = std::string("broken JPEG (") + err.message + ")";
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_stdio_src(&info, file);
    jpeg_read_header(&info, TRUE);
    if (info.image_width == 0 || info.image_height == 0 || info.image_width > 16384 || info.image_height > 16384) {
        jpeg_destroy_decompress(&info);
        error = "picture too large or empty";
        return false;
    }
    info.out_color_space = JCS_RGB;
    jpeg_start_decompress(&info);
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    image.pixels.resize(static_cast<size_t>(image.width) * image.height * 3);
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.pixels.data() + static_cast<size_t>(info.output_scanline) * image.width * 3;
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

// Next header number of a PNM file, skipping blanks and comments.
bool pnmNumber(FILE *f, long &value)
{
    int c = std::fgetc(f);
    for (;;) {
        while (c == ' ' || c == '\t' || c == '\n' || c == '\r')
            c = std::fgetc(f);
        if (c != '#')
            break;
        while (c != '\n' && c != EOF)
            c = std::fgetc(f);
    }
    if (c < '0' || c > '9')
        return false;
    value = 0;
    while (c >= '0' && c <= '9') {
        value = value * 10 + (c - '0');
        if (value > 1000000)
            return false;
        c = std::fgetc(f);
    }
    // Exactly one blank ends the header's last number; it is consumed here.
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

bool loadPnm(FILE *f, bool colour, RgbImage &image, std::string &error)
{
    long w = 0, h = 0, maxval = 0;
    if (!pnmNumber(f, w) || !pnmNumber(f, h) || !pnmNumber(f, maxval) || w <= 0 || h <= 0 || w > 16384
        || h > 16384 || maxval <= 0 || maxval > 65535) {
        error = "broken PPM header";
        return false;
    }
    const int channels = colour ? 3 : 1;
    const int sampleBytes = maxval > 255 ? 2 : 1;
    std::vector<uint8_t> raw(static_cast<size_t>(w) * h * channels * sampleBytes);
    if (std::fread(raw.data(), 1, raw.size(), f) != raw.size()) {
        error = "PPM data is cut short";
        return false;
    }
    image.width = static_cast<int>(w);
    image.height = static_cast<int>(h);
    image.pixels.resize(static_cast<size_t>(w) * h * 3);
    for (size_t p = 0; p < static_cast<size_t>(w) * h; ++p) {
        for (int c = 0; c < 3; ++c) {
            const size_t s = (p * channels + (colour ? c : 0)) * sampleBytes;
            const long v = sampleBytes == 2 ? (raw[s] << 8 | raw[s + 1]) : raw[s];
            image.pixels[p * 3 + c] = static_cast<uint8_t>(std::min(v, maxval) * 255 / maxval);
        }
    }
    return true;
}

} // namespace

bool loadImage(const std::string &path, RgbImage &image, std::string &error)
{
    File file(std::fopen(path.c_str(), "rb"));
    if (!file) {
        error = std::strerror(errno);
        return false;
    }
    uint8_t magic[8] = {};
    const size_t got = std::fread(magic, 1, sizeof magic, file.get());
    std::rewind(file.get());
    static const uint8_t pngMagic[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (got == 8 && std::memcmp(magic, pngMagic, 8) == 0) {
        file.reset();
        return loadPng(path, image, error);
    }
    if (got >= 3 && magic[0] == 0xFF && magic[1] == 0xD8 && magic[2] == 0xFF)
        return loadJpeg(file.get(), image, error);
    if (got >= 2 && magic[0] == 'P' && (magic[1] == '6' || magic[1] == '5')) {
        std::fseek(file.get(), 2, SEEK_SET);
        return loadPnm(file.get(), magic[1] == '6', image, error);
    }
    error = got == 0 ? "empty file" : "not a PNG, JPEG or PPM picture";
    return false;
}

Face fitToFace(const RgbImage &image)
{
    Face face{};
    if (image.width <= 0 || image.height <= 0)
        return face;
    const double scale = std::min(double(kFaceSize) / image.width, double(kFaceSize) / image.height);
    const int w = std::clamp(static_cast<int>(std::lround(image.width * scale)), 1, kFaceSize);
    const int h = std::clamp(static_cast<int>(std::lround(image.height * scale)), 1, kFaceSize);
    const int x0 = (kFaceSize - w) / 2, y0 = (kFaceSize - h) / 2;
    const double sx = double(image.width) / w, sy = double(image.height) / h;
    auto src = [&](int x, int y, int c) -> double {
        return image.pixels[(static_cast<size_t>(y) * image.width + x) * 3 + c];
    };
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x) {
            double rgb[3] = {0, 0, 0};
            if (sx >= 1 && sy >= 1) {
                // Area average of the source pixels this face pixel covers, with partial edges.
                const double fx0 = x * sx, fx1 = (x + 1) * sx, fy0 = y * sy, fy1 = (y + 1) * sy;
                double area = 0;
                for (int yy = static_cast<int>(fy0); yy < std::min<int>(std::ceil(fy1), image.height); ++yy) {
                    const double wy = std::min<double>(yy + 1, fy1) - std::max<double>(yy, fy0);
                    for (int xx = static_cast<int>(fx0); xx < std::min<int>(std::ceil(fx1), image.width); ++xx) {
                        const double wx = std::min<double>(xx + 1, fx1) - std::max<double>(xx, fx0);
                        const double wgt = wx * wy;
                        if (wgt <= 0)
                            continue;
                        for (int c = 0; c < 3; ++c)
                            rgb[c] += src(xx, yy, c) * wgt;
                        area += wgt;
                    }
                }
                for (double &v : rgb)
                    v = area > 0 ? v / area : 0;
            } else {
                // Bilinear between pixel centres when growing.
                const double fx = std::clamp((x + 0.5) * sx - 0.5, 0.0, image.width - 1.0);
                const double fy = std::clamp((y + 0.5) * sy - 0.5, 0.0, image.height - 1.0);
                const int ix = static_cast<int>(fx), iy = static_cast<int>(fy);
                const int jx = std::min(ix + 1, image.width - 1), jy = std::min(iy + 1, image.height - 1);
                const double ax = fx - ix, ay = fy - iy;
                for (int c = 0; c < 3; ++c)
                    rgb[c] = (src(ix, iy, c) * (1 - ax) + src(jx, iy, c) * ax) * (1 - ay)
                        + (src(ix, jy, c) * (1 - ax) + src(jx, jy, c) * ax) * ay;
            }
            uint8_t *dst = &face[(y0 + y) * kRowBytes + (x0 + x) * 3];
            dst[0] = static_cast<uint8_t>(std::lround(std::clamp(rgb[2], 0.0, 255.0)));
            dst[1] = static_cast<uint8_t>(std::lround(std::clamp(rgb[1], 0.0, 255.0)));
            dst[2] = static_cast<uint8_t>(std::lround(std::clamp(rgb[0], 0.0, 255.0)));
        }
    }
    return face;
}

// --- the keypad session ----------------------------------------------------------------------

namespace {

DeviceLinkOptions linkOptions(const CtlOptions &options, LinkObserver *observer)
{
    DeviceLinkOptions o;
    o.observer = observer;
    o.portPath = options.port; // empty: PIXKEY_PORT or discovery
    return o;
}

constexpr int kResendLimit = 3;
constexpr auto kShowTimeout = 60s;

} // namespace

CtlKeypad::CtlKeypad(const CtlOptions &options)
    : m_options(options), m_link(std::make_unique<DeviceLink>(static_cast<DeviceListener *>(this), linkOptions(options, static_cast<LinkObserver *>(this))))
{
    m_link->SetGamma(options.gamma);
    m_link->SetWhiteBalance(options.whiteBalance);
}

CtlKeypad::~CtlKeypad()
{
    m_link->Disconnect();
    m_link.reset();
}

void CtlKeypad::setPicture(int deviceKey, const Face &devicePicture)
{
    if (deviceKey >= 1 && deviceKey <= kKeyCount)
        m_pictures[deviceKey - 1].assign(devicePicture.begin(), devicePicture.end());
}

void CtlKeypad::setKeyHandler(std::function<void(int)> handler)
{
    m_keyHandler = std::move(handler);
}

void CtlKeypad::setLossHandler(std::function<void()> handler)
{
    m_lossHandler = std::move(handler);
}

std::string CtlKeypad::portDescription() const
{
    if (!m_options.port.empty())
        return m_options.port;
    if (const char *env = std::getenv("PIXKEY_PORT"); env && *env)
        return env;
    return std::string();
}

int CtlKeypad::connect(bool onConnectRoutine)
{
    m_routine = onConnectRoutine;
    m_link->Connect();
    // The worker serves the connect request before any queued command, so a waiting Ping returns
    // once the attempt is over: 0 when the keypad answered, -1 when not.
    const int r = m_link->PostCommand(LinkCommand::Ping, 0, true);
    if (r == 0 && m_link->IsConnected())
        return ExitOk;
    std::string why = m_link->lastOpenError();
    const std::string port = portDescription();
    if (why.empty())
        why = port.empty() ? "the keypad does not answer" : "the keypad at " + port + " does not answer";
    return fail(ExitNoKeypad, "no keypad found: " + why);
}

void CtlKeypad::runOnConnectRoutine()
{
    m_link->PostCommand(LinkCommand::DisplayOn, 0, false);
    m_link->PostCommand(LinkCommand::DisplayOn, 0, false);
    m_link->PostCommand(LinkCommand::SetBrightness, static_cast<uint8_t>((m_options.brightness + 1) * 20), false);
    bool any = false;
    for (const auto &p : m_pictures)
        any = any || !p.empty();
    if (any && m_options.hold)
        m_link->HoldDisplayUntilAllSent();
    for (int k = 1; k <= kKeyCount; ++k)
        if (!m_pictures[k - 1].empty())
            m_link->SubmitFrame(k, m_pictures[k - 1].data(), false);
    {
        std::lock_guard lk(m_lock);
        m_shown.fill(0);
        m_uploadErrors = 0;
    }
    m_link->RequestRefresh();
}

void CtlKeypad::OnConnectionChanged(int state)
{
    if (state == 1) {
        if (m_routine)
            runOnConnectRoutine();
        return;
    }
    {
        std::lock_guard lk(m_lock);
        m_lost = true;
        m_changed.notify_all();
    }
    if (m_lossHandler)
        m_lossHandler();
}

void CtlKeypad::OnKeyPressed(int deviceKey)
{
    if (m_keyHandler)
        m_keyHandler(deviceKey);
}

void CtlKeypad::onPacketSent(const uint8_t *packet)
{
    if (packet[0] != static_cast<uint8_t>(LinkCommand::ShowFrame) || packet[1] < 1 || packet[1] > kKeyCount)
        return;
    std::lock_guard lk(m_lock);
    ++m_shown[packet[1] - 1];
    m_changed.notify_all();
}

void CtlKeypad::onLinkError(LinkError error)
{
    if (!triggersRecovery(error))
        return;
    std::lock_guard lk(m_lock);
    ++m_uploadErrors;
    m_changed.notify_all();
}

int CtlKeypad::waitUntilShown()
{
    for (int attempt = 0;; ++attempt) {
        {
            std::unique_lock lk(m_lock);
            const bool done = m_changed.wait_for(lk, kShowTimeout, [&] {
                if (m_lost)
                    return true;
                for (int k = 0; k < kKeyCount; ++k)
                    if (!m_pictures[k].empty() && m_shown[k] == 0)
                        return false;
                return true;
            });
            if (m_lost)
                return fail(ExitFailed, "the link to the keypad was lost");
            if (!done)
                return fail(ExitFailed, "the keypad did not take the pictures in time");
        }
        // The last ShowFrame went out; a waiting Ping returns once the worker is past it.
        if (m_link->PostCommand(LinkCommand::Ping, 0, true) != 0 || linkLost())
            return fail(ExitFailed, "the link to the keypad was lost");
        int errors;
        {
            std::lock_guard lk(m_lock);
            errors = m_uploadErrors;
            if (errors == 0)
                return ExitOk;
            // A packet of the upload met an error and the link resynchronised: lines may have
            // gone astray, so everything is sent again.
            m_shown.fill(0);
            m_uploadErrors = 0;
        }
        if (attempt + 1 >= kResendLimit)
            return fail(ExitFailed, "the keypad keeps failing to take the pictures");
        if (m_options.hold)
            m_link->HoldDisplayUntilAllSent();
        m_link->RequestRefresh();
    }
}

int CtlKeypad::command(LinkCommand cmd, uint8_t arg1)
{
    if (m_link->PostCommand(cmd, arg1, true) != 0)
        return fail(ExitFailed, "the link to the keypad was lost");
    return ExitOk;
}

bool CtlKeypad::linkLost() const
{
    std::lock_guard lk(m_lock);
    return m_lost;
}

bool CtlKeypad::waitForLoss(std::chrono::milliseconds timeout)
{
    std::unique_lock lk(m_lock);
    return m_changed.wait_for(lk, timeout, [&] { return m_lost; });
}

} // namespace pixkey::ctl
