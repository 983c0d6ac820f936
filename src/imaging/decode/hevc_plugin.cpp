#include "common/helpers.h"
#include "imaging/decode/heif_api.h"
#include "imaging/decode/hevc_rgb.h"

#include <cstring>
#include <optional>

namespace tovalin::detail {

namespace {

// libheif's own HEVC plugin gives libde265 one worker thread; with two, the
// slices and rows a picture is coded in decode on both cores, a third faster.
// The plugin below is that plugin with two threads: the same calls, the
// same planes and the same colour description, so the picture is unchanged.
struct De265Api {
#define TOVALIN_DE265_FUNCTIONS(F)                                                                        \
    F(de265_init) F(de265_free) F(de265_new_decoder) F(de265_free_decoder) F(de265_start_worker_threads) \
    F(de265_push_NAL) F(de265_flush_data) F(de265_decode) F(de265_get_next_picture)                      \
    F(de265_release_next_picture) F(de265_get_chroma_format) F(de265_get_image_width)                    \
    F(de265_get_image_height) F(de265_get_bits_per_pixel) F(de265_get_image_plane)                       \
    F(de265_get_image_colour_primaries) F(de265_get_image_transfer_characteristics)                      \
    F(de265_get_image_matrix_coefficients) F(de265_get_image_full_range_flag) F(de265_get_warning)
    TOVALIN_DE265_FUNCTIONS(TOVALIN_API_MEMBER)

    static const De265Api *get()
    {
        static const De265Api *api = loadApi<De265Api>("libde265.so.0", [](void *lib, De265Api &loaded) {
            bool complete = true;
            TOVALIN_DE265_FUNCTIONS(TOVALIN_LOAD)
            return complete;
        });
        return api;
    }
};

namespace hevc {

const HeifApi *heifApi = nullptr; // set before the plugin is registered
const De265Api *de265 = nullptr;

constexpr heif_error kOk{heif_error_Ok, heif_suberror_Unspecified, "Success"};
constexpr heif_error kNoPicture{heif_error_Decoder_plugin_error, heif_suberror_Unspecified, "no picture decoded"};
constexpr heif_error kCutNal{heif_error_Decoder_plugin_error, heif_suberror_End_of_data, "NAL unit cut short"};

const char *name() { return "libde265 HEVC decoder, two threads"; }
void init() { de265->de265_init(); }
void deinit() { de265->de265_free(); }
int priority(heif_compression_format format) { return format == heif_compression_HEVC ? 110 : 0; }

heif_error open(void **decoder)
{
    de265_decoder_context *ctx = de265->de265_new_decoder();
    // libde265 reports no failure when its threads cannot be made, then
    // waits for them forever: without them it decodes on the caller's thread.
    if (helperToBeHad())
        de265->de265_start_worker_threads(ctx, 2);
    *decoder = ctx;
    return kOk;
}

void close(void *decoder) { de265->de265_free_decoder(static_cast<de265_decoder_context *>(decoder)); }

// The data is NAL units, each after its length in four bytes.
heif_error push(void *decoder, const void *data, std::size_t size)
{
    const auto *bytes = static_cast<const std::uint8_t *>(data);
    for (std::size_t at = 0; at < size;) {
        if (size - at < 4)
            return kCutNal;
        const std::size_t length = std::size_t(bytes[at]) << 24 | bytes[at + 1] << 16 | bytes[at + 2] << 8 | bytes[at + 3];
        at += 4;
        if (length > size - at)
            return kCutNal;
        de265->de265_push_NAL(static_cast<de265_decoder_context *>(decoder), bytes + at, int(length), 0, nullptr);
        at += length;
    }
    return kOk;
}

struct AsRgb {
    bool on = false;
    std::optional<heif_color_profile_nclx> nclx; // the item's; else the stream's
};
thread_local AsRgb t_asRgb;

void setNclx(const HeifApi &heif, const de265_image *picture, heif_image *image)
{
    heif_color_profile_nclx *nclx = heif.heif_nclx_color_profile_alloc();
    nclx->color_primaries = heif_color_primaries(de265->de265_get_image_colour_primaries(picture));
    nclx->transfer_characteristics = heif_transfer_characteristics(de265->de265_get_image_transfer_characteristics(picture));
    nclx->matrix_coefficients = heif_matrix_coefficients(de265->de265_get_image_matrix_coefficients(picture));
    nclx->full_range_flag = de265->de265_get_image_full_range_flag(picture) != 0;
    heif.heif_image_set_nclx_color_profile(image, nclx);
    heif.heif_nclx_color_profile_free(nclx);
}

// The picture as 8-bit RGB planes, where it is 8-bit 4:2:0 and libheif
// would convert it with coefficients of its own; empty otherwise.
std::optional<heif_error> asRgb(const de265_image *picture, heif_image **out)
{
    const HeifApi &heif = *heifApi;
    if (!t_asRgb.on || de265->de265_get_chroma_format(picture) != de265_chroma_420)
        return std::nullopt;
    for (int c = 0; c < 3; ++c)
        if (de265->de265_get_bits_per_pixel(picture, c) != 8)
            return std::nullopt;
    const int matrix = t_asRgb.nclx ? int(t_asRgb.nclx->matrix_coefficients) : de265->de265_get_image_matrix_coefficients(picture);
    const bool full = t_asRgb.nclx ? t_asRgb.nclx->full_range_flag != 0 : de265->de265_get_image_full_range_flag(picture) != 0;
    const std::optional<YccToRgb> k = yccToRgbFor(matrix, full);
    const int width = de265->de265_get_image_width(picture, 0);
    const int height = de265->de265_get_image_height(picture, 0);
    if (!k || width <= 0 || height <= 0 || de265->de265_get_image_width(picture, 1) < (width + 1) / 2
        || de265->de265_get_image_height(picture, 1) < (height + 1) / 2)
        return std::nullopt;
    heif_error e = heif.heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_444, out);
    if (e.code != heif_error_Ok)
        return e;
    const heif_channel channels[3] = {heif_channel_R, heif_channel_G, heif_channel_B};
    std::uint8_t *rgb[3] = {};
    int rgbStride[3] = {};
    for (int c = 0; c < 3 && e.code == heif_error_Ok; ++c) {
        e = heif.heif_image_add_plane(*out, channels[c], width, height, 8);
        if (e.code == heif_error_Ok)
            rgb[c] = heif.heif_image_get_plane(*out, channels[c], &rgbStride[c]);
    }
    if (e.code != heif_error_Ok) {
        heif.heif_image_release(*out);
        *out = nullptr;
        return e;
    }
    int stride[3] = {};
    const std::uint8_t *plane[3] = {};
    for (int c = 0; c < 3; ++c)
        plane[c] = de265->de265_get_image_plane(picture, c, &stride[c]);
    const YccRowToRgb row = yccRowToRgb();
    for (int y = 0; y < height; ++y)
        row(plane[0] + std::size_t(y) * stride[0], plane[1] + std::size_t(y / 2) * stride[1],
            plane[2] + std::size_t(y / 2) * stride[2], rgb[0] + std::size_t(y) * rgbStride[0],
            rgb[1] + std::size_t(y) * rgbStride[1], rgb[2] + std::size_t(y) * rgbStride[2], width, *k);
    setNclx(heif, picture, *out);
    return kOk;
}

heif_error toHeifImage(const de265_image *picture, heif_image **out)
{
    const HeifApi &heif = *heifApi;
    if (const std::optional<heif_error> converted = asRgb(picture, out))
        return *converted;
    const bool mono = de265->de265_get_chroma_format(picture) == de265_chroma_mono;
    heif_error e = heif.heif_image_create(de265->de265_get_image_width(picture, 0), de265->de265_get_image_height(picture, 0),
                                          mono ? heif_colorspace_monochrome : heif_colorspace_YCbCr,
                                          heif_chroma(de265->de265_get_chroma_format(picture)), out);
    if (e.code != heif_error_Ok)
        return e;
    const heif_channel channels[3] = {heif_channel_Y, heif_channel_Cb, heif_channel_Cr};
    const int depth = de265->de265_get_bits_per_pixel(picture, 0);
    for (int c = 0; c < (mono ? 1 : 3); ++c) {
        const int width = de265->de265_get_image_width(picture, c);
        const int height = de265->de265_get_image_height(picture, c);
        if (de265->de265_get_bits_per_pixel(picture, c) != depth || width <= 0 || height <= 0)
            e = {heif_error_Unsupported_feature, heif_suberror_Unsupported_color_conversion, "unusual planes"};
        else
            e = heif.heif_image_add_plane(*out, channels[c], width, height, depth);
        if (e.code != heif_error_Ok) {
            heif.heif_image_release(*out);
            *out = nullptr;
            return e;
        }
        int from = 0;
        int to = 0;
        const std::uint8_t *source = de265->de265_get_image_plane(picture, c, &from);
        std::uint8_t *target = heif.heif_image_get_plane(*out, channels[c], &to);
        for (int y = 0; y < height; ++y)
            std::memcpy(target + std::size_t(y) * to, source + std::size_t(y) * from, std::size_t(width) * ((depth + 7) / 8));
    }
    setNclx(heif, picture, *out);
    return kOk;
}

constexpr heif_error kDamaged{heif_error_Decoder_plugin_error, heif_suberror_Unspecified, "damaged HEVC data concealed"};

// libde265 decodes on past damaged data and says so only in warnings; the
// parts it could not decode then hold whatever its buffers held before (on
// a fuzzed grid the picture differed from one decoding to the next). Such
// a picture is refused, as a damaged JPEG is. The two notices about its
// threads tell of the stream's layout, not of damage.
bool concealedDamage(de265_decoder_context *ctx)
{
    bool damaged = false;
    for (de265_error w; (w = de265->de265_get_warning(ctx)) != DE265_OK;)
        damaged |= w != DE265_WARNING_NO_WPP_CANNOT_USE_MULTITHREADING && w != DE265_WARNING_NUMBER_OF_THREADS_LIMITED_TO_MAXIMUM;
    return damaged;
}

heif_error decode(void *decoder, heif_image **out)
{
    auto *ctx = static_cast<de265_decoder_context *>(decoder);
    de265->de265_flush_data(ctx);
    *out = nullptr;
    int more = 0;
    do {
        more = 0;
        if (de265->de265_decode(ctx, &more) != DE265_OK)
            break;
        if (const de265_image *picture = de265->de265_get_next_picture(ctx)) {
            const heif_error e = concealedDamage(ctx) ? kDamaged : toHeifImage(picture, out);
            de265->de265_release_next_picture(ctx);
            return e;
        }
    } while (more);
    return kNoPicture;
}

void setStrict(void *, int) {}

const heif_decoder_plugin plugin{3, name, init, deinit, priority, open, close, push, decode, setStrict, "libde265-2"};

} // namespace hevc

} // namespace

HevcAsRgb::HevcAsRgb(const heif_color_profile_nclx *nclx)
{
    hevc::t_asRgb.on = true;
    if (nclx)
        hevc::t_asRgb.nclx = *nclx;
}

HevcAsRgb::~HevcAsRgb() { hevc::t_asRgb = {}; }

void HeifApi::registerHevcPlugin(const HeifApi &heif)
{
    hevc::heifApi = &heif;
    hevc::de265 = De265Api::get();
    if (hevc::de265)
        heif.heif_register_decoder_plugin(&hevc::plugin);
}

} // namespace tovalin::detail
