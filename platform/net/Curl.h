// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// What every libcurl user of the mail store shares: the one global set-up, and
// owners that hand a handle or a list back to libcurl.

#include <curl/curl.h>
#include <memory>
#include <mutex>

namespace rp::mailstore {

inline void EnsureCurl() {
    static std::once_flag once;
    std::call_once(once, [] { curl_global_init(CURL_GLOBAL_DEFAULT); });
}

struct TCurlDeleter {
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
struct TListDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using TCurl = std::unique_ptr<CURL, TCurlDeleter>;
using TCurlList = std::unique_ptr<curl_slist, TListDeleter>;

} // namespace rp::mailstore
