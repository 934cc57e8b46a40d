// The system's names over the watcher: one version per iteration, fixed by its count.
#include "data/distance_file.hpp"

namespace subset {

void distance_start(distance_data& d, std::string path, watch_settings settings) {
    watch_start(d.watch, std::move(path), std::move(settings));
    d.myItems = nullptr;
    d.max = 0;
}

std::int64_t init_dados(distance_data& d, file_error& why, std::int64_t iterations) {
    if (!watch_version(d.watch, d.myItems, why, iterations)) return -1;
    d.max = d.myItems->points;
    return static_cast<std::int64_t>(d.max) * (d.max - 1) / 2;
}

bool guardaEstrutura(const distance_data& d, std::int32_t count, file_error& why) {
    why = {};
    if (d.myItems == nullptr) {
        why = {file_problem::access, 0};
    } else if (const std::int64_t pairs = static_cast<std::int64_t>(d.max) * (d.max - 1) / 2;
               count > pairs) {
        // The version keeps only its own pairs: a count past them finds the next missing.
        why = {file_problem::triple, pairs + 1};
    }
    return why.what == file_problem::none;
}

} // namespace subset
