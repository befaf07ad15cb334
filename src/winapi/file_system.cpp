// MoveFileExA over rename(): within one file system rename puts the new file in the old one's
// place in a single step, so a reader sees either the old file or the new one, never neither.
#include <sys/stat.h>
#include <windows.h>

#include <cstdio>

BOOL MoveFileExA(LPCSTR existing, LPCSTR newName, DWORD flags) {
    if (existing == nullptr || newName == nullptr) return FALSE;
    if ((flags & ~DWORD{MOVEFILE_REPLACE_EXISTING}) != 0) return FALSE;
    struct stat target;
    if ((flags & MOVEFILE_REPLACE_EXISTING) == 0 && lstat(newName, &target) == 0) return FALSE;
    return std::rename(existing, newName) == 0 ? TRUE : FALSE;
}
