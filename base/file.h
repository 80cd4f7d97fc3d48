// A file opened for one step and closed when the step's scope ends, on every path out of it.
#pragma once

#include <windows.h>

class File {
  public:
    // Opens with no sharing: nobody else reads or writes the file while it is held.
    File(const char* name, DWORD access, DWORD disposition, DWORD flags = FILE_ATTRIBUTE_NORMAL)
        : handle_(CreateFileA(name, access, 0, nullptr, disposition, flags, nullptr)) {}
    ~File() {
        if (isOpen())
            CloseHandle(handle_);
    }
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    bool isOpen() const { return handle_ != INVALID_HANDLE_VALUE; }
    operator HANDLE() const { return handle_; }

  private:
    HANDLE handle_;
};
