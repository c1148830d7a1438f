#include "resources/bundle_resource.h"

extern "C" const char kx5_bundle_zip_begin[];
extern "C" const char kx5_bundle_zip_end[];

std::string_view kx5::bundleArchive() {
    return {kx5_bundle_zip_begin, static_cast<size_t>(kx5_bundle_zip_end - kx5_bundle_zip_begin)};
}
