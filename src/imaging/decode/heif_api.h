#pragma once
#include <libde265/de265.h>
#include <libheif/heif.h>
#include <libheif/heif_plugin.h>

#include <dlfcn.h>

// libheif and libde265, loaded at run time with the first HEIF file.
namespace tovalin::detail {

// A library and its functions, loaded once; null when either is missing.
template <typename Api>
const Api *loadApi(const char *soname, bool (*fill)(void *lib, Api &api))
{
    void *lib = dlopen(soname, RTLD_NOW | RTLD_LOCAL);
    static Api loaded;
    return lib && fill(lib, loaded) ? &loaded : nullptr;
}

#define TOVALIN_API_MEMBER(name) decltype(&::name) name = nullptr;
#define TOVALIN_LOAD(name)                                                                        \
    loaded.name = reinterpret_cast<decltype(&::name)>(dlsym(lib, #name));                        \
    complete = complete && loaded.name;

// libheif and its codecs (HEVC and AV1 decoders and encoders) take longer to
// load than a whole small job, so they are loaded with the first HEIF file
// rather than with the program.
struct HeifApi {
#define TOVALIN_HEIF_FUNCTIONS(F)                                                                             \
    F(heif_context_alloc) F(heif_context_free) F(heif_context_read_from_memory_without_copy)                  \
    F(heif_context_get_primary_image_handle) F(heif_image_handle_release) F(heif_image_handle_get_width)      \
    F(heif_image_handle_get_height) F(heif_image_handle_has_alpha_channel) F(heif_decoding_options_alloc)    \
    F(heif_decoding_options_free) F(heif_decode_image) F(heif_image_release)                                  \
    F(heif_image_get_width) F(heif_image_get_height) F(heif_image_handle_get_color_profile_type)             \
    F(heif_image_handle_get_raw_color_profile_size) F(heif_image_handle_get_raw_color_profile)               \
    F(heif_image_handle_get_nclx_color_profile) F(heif_nclx_color_profile_free)                               \
    F(heif_register_decoder_plugin) F(heif_image_create) F(heif_image_add_plane) F(heif_image_get_plane)      \
    F(heif_nclx_color_profile_alloc) F(heif_image_set_nclx_color_profile)                                      \
    F(heif_context_set_maximum_image_size_limit) F(heif_context_set_max_decoding_threads)                      \
    F(heif_image_handle_get_number_of_metadata_blocks)                                                        \
    F(heif_image_handle_get_list_of_metadata_block_IDs) F(heif_image_handle_get_metadata_size)               \
    F(heif_image_handle_get_metadata) F(heif_image_handle_get_luma_bits_per_pixel)                            \
    F(heif_image_handle_get_chroma_bits_per_pixel)
    TOVALIN_HEIF_FUNCTIONS(TOVALIN_API_MEMBER)

    // Null when libheif cannot be loaded.
    static const HeifApi *get()
    {
        static const HeifApi *api = [] {
            const HeifApi *heif = loadApi<HeifApi>("libheif.so.1", [](void *lib, HeifApi &loaded) {
                bool complete = true;
                TOVALIN_HEIF_FUNCTIONS(TOVALIN_LOAD)
                return complete;
            });
            if (heif)
                registerHevcPlugin(*heif);
            return heif;
        }();
        return api;
    }

    static void registerHevcPlugin(const HeifApi &heif);
};

// While one lives, HEVC pictures this thread decodes through libheif come
// out of our plugin as 8-bit RGB planes, converted as libheif would (see
// hevc_rgb.h), where they are 8-bit 4:2:0 and the colours libheif would
// convert them with (`nclx`, the item's own, or else the stream's) are
// full-range BT.601; others come as before. Only for a coded primary
// picture: a grid's tiles take their colours from their own items.
class HevcAsRgb {
public:
    explicit HevcAsRgb(const heif_color_profile_nclx *nclx);
    ~HevcAsRgb();
    HevcAsRgb(const HevcAsRgb &) = delete;
    HevcAsRgb &operator=(const HevcAsRgb &) = delete;
};

} // namespace tovalin::detail
