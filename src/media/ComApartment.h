#pragma once
// The thread's COM apartment for as long as this lives (the Windows
// build's media code). A thread that has one of another kind already keeps
// it, and then nothing is undone.

#include <objbase.h>

namespace tarvelo {

class ComApartment {
public:
    explicit ComApartment(DWORD model = COINIT_APARTMENTTHREADED) : result_(CoInitializeEx(nullptr, model)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(result_))
            CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

private:
    HRESULT result_;
};

}  // namespace tarvelo
