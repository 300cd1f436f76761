#pragma once
// The Windows binding's system calls, reached through a replaceable table so
// that tests can put a storage driver double where the device would be:
// CreateFileA on \\.\PHYSICALDRIVEn, CloseHandle for what it opened, and
// DeviceIoControl for the two storage I/O controls. The table holds the real
// calls unless a test has replaced them; a drive handle keeps the calls it
// was opened with for its whole life.
#include <windows.h>

namespace kavo {

struct WindowsDeviceCalls {
    decltype(&::CreateFileA) createFile = ::CreateFileA;
    decltype(&::DeviceIoControl) deviceIoControl = ::DeviceIoControl;
    decltype(&::CloseHandle) closeHandle = ::CloseHandle;
};

// The calls the next drive opened on Windows makes.
WindowsDeviceCalls& DeviceCalls();

}  // namespace kavo
