// The texts of the user interface by message number, stored as EUC-KR bytes (every text lies
// within KS X 1001, so the CP949 reading is the same). Main thread only.
#ifndef MESSAGE_RES_H
#define MESSAGE_RES_H

#include <cstdint>
#include <map>
#include <string>

#include "TokenDefs.h"

class TOKEN_EXPORT MessageRes {
  public:
    enum MessageResCode : int32_t {
        MSG_APP_NAME = 1,
        MSG_TOKEN_INIT = 2,
        MSG_SLOT_LIST = 3,
        MSG_DEVICE_LIST = 4,
        MSG_SESSION_LIST = 5,
        MSG_TOKEN_CHANGE_PIN = 6,
        MSG_LOGOUT = 7,
        MSG_LOGIN = 8,
        MSG_QUIT = 9,
        MSG_ABOUT = 10,
        MSG_TOKEN_INIT_TITLE = 11,
        MSG_SECURE_DISK_LOCKED = 12,
        MSG_SECURE_DISK_INIT_WITH_PIN_DONE = 13,
        MSG_CHANGE_PIN_DONE = 14,
        MSG_SECURE_DISK_INIT_DONE = 15,
        MSG_SECURE_DISK_IMPORT_TITLE = 16,
        MSG_SECURE_DISK_IMPORT = 17,
        MSG_SECURE_DISK_IMPORT_RESULT = 18,  // format: successes, failures
        MSG_CERT_MANAGER = 19,
        MSG_SELECT_CERT = 20,
        MSG_CERT_PIN_CHANGED = 21,
        MSG_CERT_PIN_CHANGE_FAILED = 22,
        MSG_CERT_PIN_CHANGE_CANCELLED = 23,
        MSG_CERT_COPY_DONE = 24,
        MSG_CERT_COPY_FAILED = 25,
        MSG_CERT_COPY_CANCELLED = 26,
        MSG_CERT_COPY_WRONG_PIN = 27,
        MSG_CERT_COPY_NO_TARGET = 28,
        MSG_CERT_DELETE_CONFIRM = 29,
        MSG_CERT_DELETE_DONE = 30,
        MSG_CERT_DELETE_FAILED = 31,
        MSG_CERT_DELETE_CANCELLED = 32,
        MSG_CERT_EXPORT_TITLE = 33,
        MSG_CERT_EXPORT_DONE = 34,
        MSG_CERT_EXPORT_CANCELLED = 35,
        MSG_EXPORT_ENTER_PIN = 36,
        MSG_EXPORT_WRONG_PIN = 37,
        MSG_EXPORT_ENTER_SAVE_PIN = 38,
        MSG_EXPORT_ENTER_SAVE_PIN_CONFIRM = 39,
        MSG_EXPORT_SAVE_PIN_MISMATCH = 40,
        MSG_PKCS12_CREATE_FAILED = 41,
        MSG_FILE_SAVE_FAILED = 42,
        MSG_CERT_IMPORT_TITLE = 43,
        MSG_CERT_IMPORT_DONE = 44,
        MSG_CERT_IMPORT_CANCELLED = 45,
        MSG_IMPORT_ENTER_PIN = 46,
        MSG_IMPORT_WRONG_PIN = 47,
        MSG_IMPORT_ENTER_SAVE_PIN = 48,
        MSG_IMPORT_ENTER_SAVE_PIN_CONFIRM = 49,
        MSG_IMPORT_SAVE_PIN_MISMATCH = 50,
        MSG_IMPORT_SELECT_CERT = 51,
        MSG_IMPORT_FILE_READ_FAILED = 52,
        MSG_IMPORT_FILE_INVALID = 53,
        MSG_IMPORT_FAILED = 54,
        MSG_CERT_PATH_NOT_DELETABLE = 55,
        MSG_CERT_PATH_PIN_NOT_CHANGEABLE = 56,
        MSG_BLANK = 58
    };

    // Fills the table once; every lookup calls it.
    static void initialize();
    // The EUC-KR text of the code, or that of "unknown error" for a code outside the table.
    static const char* getMessage(MessageResCode code);
    // The same text decoded from EUC-KR, as UTF-8 for the user interface; empty when it cannot be
    // decoded.
    static std::string getMessageNS(MessageResCode code);
    // Inserts a row when the code is absent; the text is stored, not copied.
    static void addMessage(MessageResCode code, const char* text);

    static std::map<uint64_t, const char*> reasonBook;
    static bool initialized;
};

#endif
