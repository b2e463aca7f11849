// Owners for the system handles the program holds: each closes its handle
// when it goes out of scope. Copying is not allowed; moving hands it over.
#pragma once

#include <windows.h>
#include <wininet.h>

template <typename T, typename Traits>
class ScopedHandleOf
{
public:
    explicit ScopedHandleOf(T handle = Traits::Invalid()) : m_handle(handle) {}
    ~ScopedHandleOf() { Close(); }

    ScopedHandleOf(const ScopedHandleOf&) = delete;
    ScopedHandleOf& operator=(const ScopedHandleOf&) = delete;

    ScopedHandleOf(ScopedHandleOf&& other) noexcept : m_handle(other.Release()) {}
    ScopedHandleOf& operator=(ScopedHandleOf&& other) noexcept
    {
        if (this != &other) {
            Close();
            m_handle = other.Release();
        }
        return *this;
    }

    T Get() const { return m_handle; }
    bool IsValid() const { return Traits::IsValid(m_handle); }
    T Release()
    {
        T handle = m_handle;
        m_handle = Traits::Invalid();
        return handle;
    }

private:
    void Close()
    {
        if (Traits::IsValid(m_handle))
            Traits::Close(m_handle);
        m_handle = Traits::Invalid();
    }

    T m_handle;
};

// Kernel handles: both NULL and INVALID_HANDLE_VALUE mean "none".
struct KernelHandleTraits
{
    static HANDLE Invalid() { return NULL; }
    static bool IsValid(HANDLE h) { return h != NULL && h != INVALID_HANDLE_VALUE; }
    static void Close(HANDLE h) { CloseHandle(h); }
};

struct RegistryKeyTraits
{
    static HKEY Invalid() { return NULL; }
    static bool IsValid(HKEY h) { return h != NULL; }
    static void Close(HKEY h) { RegCloseKey(h); }
};

struct InternetHandleTraits
{
    static HINTERNET Invalid() { return NULL; }
    static bool IsValid(HINTERNET h) { return h != NULL; }
    static void Close(HINTERNET h) { InternetCloseHandle(h); }
};

typedef ScopedHandleOf<HANDLE, KernelHandleTraits> ScopedHandle;
typedef ScopedHandleOf<HKEY, RegistryKeyTraits> ScopedKey;
typedef ScopedHandleOf<HINTERNET, InternetHandleTraits> ScopedInternetHandle;
