// The certificates of the accredited certification authorities that the installer carries:
// one array per authority, rows in the order they are installed.
#pragma once

#include <span>
#include <string>

struct NPKIRow {
    const wchar_t* fileName;
    const wchar_t* folderAndName;  // authority folder, a backslash, the file name
    const wchar_t* commonName;     // filled for the two KISA roots only
};

extern const NPKIRow NPKI_CrossCert[4];
extern const NPKIRow NPKI_KICA[4];
extern const NPKIRow NPKI_KISA[2];
extern const NPKIRow NPKI_NCASign[2];
extern const NPKIRow NPKI_Lindsign[4];
extern const NPKIRow NPKI_TradeSign[4];
extern const NPKIRow NPKI_yessign[4];

// One authority: its folder name with the trailing slash and its rows.
struct NPKIAuthority {
    const wchar_t* folder;
    std::span<const NPKIRow> rows;
};

// Every authority in table order, the KISA roots included.
std::span<const NPKIAuthority> NPKIAuthorities();

// The user's NPKI folder: home + "/Library/Preferences/NPKI/". Set once at program start by
// InitUserKisaNpkiPath (tests call it again after pointing HOME elsewhere).
extern std::wstring USER_KISA_NPKI_PATH;
void InitUserKisaNpkiPath();
