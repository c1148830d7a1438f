#include "modules/security/identifier.h"

#include <uuid/uuid.h>

namespace kx5::security {

std::string makeIdentifier() {
    uuid_t id{};
    uuid_generate_random(id);
    if (uuid_is_null(id)) return kPlaceholderIdentifier;
    char text[37] = {};
    uuid_unparse_upper(id, text);
    return text;
}

} // namespace kx5::security
