// libcurl's handles, each closed by its guard on every path.
#pragma once

#include <curl/curl.h>

#include <memory>

struct CurlEasyCloser
{
    void operator()(CURL* handle) const { curl_easy_cleanup(handle); }
};
using CurlEasy = std::unique_ptr<CURL, CurlEasyCloser>;

struct CurlListFreer
{
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using CurlList = std::unique_ptr<curl_slist, CurlListFreer>;

struct CurlUrlFreer
{
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};
using CurlUrl = std::unique_ptr<CURLU, CurlUrlFreer>;

// Appends text to list (which may be empty); false when out of memory.
inline bool AppendCurlList(CurlList& list, const char* text)
{
    curl_slist* longer = curl_slist_append(list.get(), text);
    if (longer == nullptr)
        return false;
    list.release();
    list.reset(longer);
    return true;
}
