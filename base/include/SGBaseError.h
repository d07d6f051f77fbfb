/* The process-wide last-error record. */
#ifndef SG_BASE_ERROR_H
#define SG_BASE_ERROR_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

#define SG_BASE_ERROR_MESSAGE_MAX 128

int SGBaseError_SetLast(int code, const char* message, int64_t detail);
int SGBaseError_GetLastCode(void);
/* Not in the table: the message and detail, for the library's own tests and logs. */
const char* SGBaseError_GetLastMessage(void);
int64_t SGBaseError_GetLastDetail(void);

SG_EXTERN_C_END

#endif
