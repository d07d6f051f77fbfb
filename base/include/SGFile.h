/* Whole files: read into memory, write from memory, compare byte for byte. */
#ifndef SG_FILE_H
#define SG_FILE_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

enum {
    SG_FILE_ERR_OPEN = 4002,   /* missing file or folder; a read that cannot complete */
    SG_FILE_ERR_ACCESS = 4003, /* access denied when writing */
    SG_FILE_ERR_MEMORY = 4004  /* the read buffer cannot be allocated */
};

/* Reads the whole regular file into a new buffer (release with SGMemory_free). 4002 when it
 * cannot be opened or read completely (a folder, a short read), 4004 when the buffer cannot
 * be had. */
int SGFile_Read(void** data, uint32_t* size, const char* path);
/* SGFile_Read into the record (an empty file leaves it empty). */
int SGFile_ReadBinary(SGBinary* out, const char* path);

/* Replaces the file with the bytes: a temporary file in the same folder is written, flushed
 * to disk and renamed over the path, so a failure never leaves a partial file behind; a path
 * that is not a regular file (a device) is written directly. Every failure is reported: 4002
 * for a missing folder (ENOENT), 4003 for denied access (EACCES), otherwise the error number. */
int SGFile_Write(const char* path, const void* bytes, int size);
int SGFile_WriteBinary(const char* path, const SGBinary* bin);

/* 0 when both files hold the same bytes; -1 when either cannot be read or they differ; 1002
 * when the chunk buffers cannot be allocated. chunkSize 0 means 32768. */
int SGFile_Compare(const char* path1, const char* path2, uint32_t chunkSize);

SG_EXTERN_C_END

#endif
