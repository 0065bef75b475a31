// File, search-path, folder-browser and file-dialog helpers (Windows only).
// Each operation opens, uses and closes what it needs, except the
// createFileX / OpenFileX / readFileX / writeFileX / closeFileX family,
// whose handles belong to the caller until closeFileX.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#include <commdlg.h>

// Paths and names: at most 259 characters.
enum { FILE_PATH_SIZE = 260 };

extern OPENFILENAMEA fileDialog;
extern void* lastFolderItem; // PIDLIST_ABSOLUTE of the last folder chosen

// filter: pairs of description and pattern, each zero-terminated, plus a
// final zero byte.
void initFileDialog(HWND owner, const char* filter);
// path and name must hold FILE_PATH_SIZE bytes. Both dialogs leave the
// chosen file's folder as the current directory.
int openFileDialog(HWND owner, char* path, char* name);
int saveFileDialog(HWND owner, char* path, char* name);
int chooseFolder(HWND owner, char* path);

// Fills list with the names of the folder's .wav/.mp3/.cda files, each
// zero-terminated, closed by one more zero byte. Names that do not fit into
// listSize bytes are left out and the result is 0; the list stays closed.
int listAudioFiles(const char* folder, char* list, unsigned listSize);
int showDirectoryFiles(const char* folder);
// pattern holds FILE_PATH_SIZE bytes; it receives the first match's name.
int findFileInFolder(const char* folder, char* pattern);
int fileOnSearchPath(const char* name);
int fileOnSearchPathShortExt(const char* name);
// ext must hold at least 4 bytes; it is normalised in place.
int checkExtension(char* ext);
int containsText(const char* text, const char* part);

int readFileWhole(const char* name, char* buffer, DWORD bufferSize, DWORD* fileSize);
int writeFileWhole(const char* name, const char* data, DWORD count);
int loadFileToWindow(HWND window, const char* name);
int saveWindowToFile(HWND window, const char* name);

int createFileX(const char* name, HANDLE* handle, DWORD* size);
int OpenFileX(const char* name, HANDLE* handle, DWORD* size);
int readFileX(HANDLE handle, char* buffer, DWORD count, DWORD* countRead);
int writeFileX(HANDLE handle, const char* data, DWORD count);
int closeFileX(HANDLE handle);
