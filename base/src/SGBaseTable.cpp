#include "SGBaseTable.h"

#include <cstring>

#include "SGBaseError.h"
#include "SGBaseInternal.h"
#include "SGBinary.h"
#include "SGBase64.h"
#include "SGCodec.h"
#include "SGFile.h"
#include "SGHex.h"
#include "SGConfig.h"
#include "SGIPC.h"
#include "SGLog.h"
#include "SGMemory.h"
#include "SGOS.h"
#include "SGSnowChannel.h"
#include "SGSnowMessage.h"
#include "SGSocket.h"
#include "SGStream.h"
#include "SGThread.h"
#include "SGTime.h"

extern "C" SG_EXPORT void* Base[SG_BASE_TABLE_SLOTS];
void* Base[SG_BASE_TABLE_SLOTS];

namespace {

#define SLOT(name) reinterpret_cast<void*>(&name)

// Slots 1 to 347 in their fixed order.
void* const kSlots[SG_BASE_TABLE_SLOTS - 1] = {
    SLOT(SGBase_GetVersion),  // 1
    SLOT(SGBaseError_SetLast),  // 2
    SLOT(SGBaseError_GetLastCode),  // 3
    SLOT(SGLog_GetVersion),  // 4
    SLOT(SGLog_GetBuildInfo),  // 5
    SLOT(SG_LOG_DEBUG_Initialize),  // 6
    SLOT(SG_LOG_DEBUG_Get_Stream),  // 7
    SLOT(_SGLog_Initialize),  // 8
    SLOT(_SGLog_Write),  // 9
    SLOT(_SGLog_WriteVaList),  // 10
    SLOT(_SGLog_Finalize),  // 11
    SLOT(SGLog_Initialize),  // 12
    SLOT(SGLog_Write),  // 13
    SLOT(SGLog_Finalize),  // 14
    SLOT(SGstorage_JsonNew),  // 15
    SLOT(SGConfig_GetVersion),  // 16
    SLOT(SGConfig_GetBuildInfo),  // 17
    SLOT(SGConfig_IniparserNew),  // 18
    SLOT(SGConfig_IniparserNew_Unicode),  // 19
    SLOT(SGConfig_IniparserNew_from_Buffer),  // 20
    SLOT(SGConfig_IniparserFree),  // 21
    SLOT(SGConfig_IniparserGetNSec),  // 22
    SLOT(SGConfig_IniparserGetSecName),  // 23
    SLOT(SGConfig_IniparserGetString),  // 24
    SLOT(SGConfig_IniparserGetInt),  // 25
    SLOT(SGConfig_IniparserGetDouble),  // 26
    SLOT(SGConfig_IniparserGetBoolean),  // 27
    SLOT(SGConfig_IniparserFindEntry),  // 28
    SLOT(SGConfig_IniparserUnset),  // 29
    SLOT(SGConfig_JsonGetObjectItem),  // 30
    SLOT(SGConfig_JsonDelete),  // 31
    SLOT(SGHex_Encode),  // 32
    SLOT(SGHex_Decode),  // 33
    SLOT(SGFile_Read),  // 34
    SLOT(SGFile_ReadBinary),  // 35
    SLOT(SGFile_Write),  // 36
    SLOT(SGFile_WriteBinary),  // 37
    SLOT(SGFile_Compare),  // 38
    SLOT(SGMemory_malloc),  // 39
    SLOT(SGMemory_calloc),  // 40
    SLOT(SGMemory_realloc),  // 41
    SLOT(SGMemory_cleanse),  // 42
    SLOT(SGMemory_free),  // 43
    SLOT(SGBinary_New),  // 44
    SLOT(SGBinary_Init),  // 45
    SLOT(SGBinary_Reset),  // 46
    SLOT(SGBinary_Cleanse),  // 47
    SLOT(SGBinary_Free),  // 48
    SLOT(SGBinary_Duplicate),  // 49
    SLOT(SGBinary_Copy),  // 50
    SLOT(SGBinary_Set),  // 51
    SLOT(SGBinary_SetString),  // 52
    SLOT(SGBinary_ToString),  // 53
    SLOT(SGBinary_Add),  // 54
    SLOT(SGBinary_AddString),  // 55
    SLOT(SGBinary_Cmp),  // 56
    SLOT(SGBinary_Reverse),  // 57
    SLOT(SGBinaryList_New),  // 58
    SLOT(SGBinaryList_Reset),  // 59
    SLOT(SGBinaryList_Free),  // 60
    SLOT(SGBinaryList_Copy),  // 61
    SLOT(SGBinaryList_Add),  // 62
    SLOT(SGBinaryTupleList_New),  // 63
    SLOT(SGBinaryTupleList_Reset),  // 64
    SLOT(SGBinaryTupleList_Free),  // 65
    SLOT(SGBinaryTupleList_Find),  // 66
    SLOT(SGBinaryTupleList_FindAsString),  // 67
    SLOT(SGBinaryTupleList_Add),  // 68
    SLOT(SGCodecGetVersion),  // 69
    SLOT(SGCodecGetBuildInfo),  // 70
    SLOT(SGCodecConvertCodeSet),  // 71
    SLOT(SGCodecEncodeURL),  // 72
    SLOT(SGCodecDecodeURL),  // 73
    SLOT(SGCodecEscapeString),  // 74
    SLOT(SGCodecUnescapeString),  // 75
    SLOT(SGCodecBinToString),  // 76
    SLOT(SGCodecStringToBin),  // 77
    SLOT(SGBase64_Encode),  // 78
    SLOT(SGBase64_Decode),  // 79
    SLOT(SGBase64_Free),  // 80
    SLOT(SGTime_Now),  // 81
    SLOT(SGTime_ToUTC),  // 82
    SLOT(SGTime_ToTime),  // 83
    SLOT(SGTime_Print),  // 84
    SLOT(SGTime_Gap),  // 85
    SLOT(SGStream_InitWithBinary),  // 86
    SLOT(SGStream_InitWithStream),  // 87
    SLOT(SGStream_InitForInput),  // 88
    SLOT(SGStream_InitForOutput),  // 89
    SLOT(SGStream_AddChain),  // 90
    SLOT(SGStream_Read),  // 91
    SLOT(SGStream_ReadAvailable),  // 92
    SLOT(SGStream_Write),  // 93
    SLOT(SGStream_WriteByte),  // 94
    SLOT(SGStream_GetPosition),  // 95
    SLOT(SGStream_SetPosition),  // 96
    SLOT(SGStream_MoveTo),  // 97
    SLOT(SGStream_Pipe),  // 98
    SLOT(SGStream_Flush),  // 99
    SLOT(SGStream_Close),  // 100
    SLOT(SGStream_Reset),  // 101
    SLOT(SGOS_malloc),  // 102
    SLOT(SGOS_calloc),  // 103
    SLOT(SGOS_realloc),  // 104
    SLOT(SGOS_free),  // 105
    SLOT(SGOS_memcpy),  // 106
    SLOT(SGOS_memmove),  // 107
    SLOT(SGOS_memccpy),  // 108
    SLOT(SGOS_memset),  // 109
    SLOT(SGOS_memcmp),  // 110
    SLOT(SGOS_isalnum),  // 111
    SLOT(SGOS_isalpha),  // 112
    SLOT(SGOS_isascii),  // 113
    SLOT(SGOS_isblank),  // 114
    SLOT(SGOS_iscntrl),  // 115
    SLOT(SGOS_isdigit),  // 116
    SLOT(SGOS_isgraph),  // 117
    SLOT(SGOS_islower),  // 118
    SLOT(SGOS_isprint),  // 119
    SLOT(SGOS_ispunct),  // 120
    SLOT(SGOS_isspace),  // 121
    SLOT(SGOS_isupper),  // 122
    SLOT(SGOS_isxdigit),  // 123
    SLOT(SGOS_tolower),  // 124
    SLOT(SGOS_toupper),  // 125
    SLOT(SGOS_strchr),  // 126
    SLOT(SGOS_strcoll),  // 127
    SLOT(SGOS_strcspn),  // 128
    SLOT(SGOS_strdup),  // 129
    SLOT(SGOS_strlen),  // 130
    SLOT(SGOS_strncat),  // 131
    SLOT(SGOS_strncmp),  // 132
    SLOT(SGOS_strcmp),  // 133
    SLOT(SGOS_strncpy),  // 134
    SLOT(SGOS_strncasecmp),  // 135
    SLOT(SGOS_strpbrk),  // 136
    SLOT(SGOS_strrchr),  // 137
    SLOT(SGOS_strsep),  // 138
    SLOT(SGOS_strspn),  // 139
    SLOT(SGOS_strstr),  // 140
    SLOT(SGOS_strtok),  // 141
    SLOT(SGOS_strxfrm),  // 142
    SLOT(SGOS_index),  // 143
    SLOT(SGOS_rindex),  // 144
    SLOT(SGOS_strerror),  // 145
    SLOT(SGOS_strlwc),  // 146
    SLOT(SGOS_strupc),  // 147
    SLOT(SGOS_strskp),  // 148
    SLOT(SGOS_strcrop),  // 149
    SLOT(SGOS_strstrip),  // 150
    SLOT(SGOS_fgets),  // 151
    SLOT(SGOS_fgetws),  // 152
    SLOT(SGOS_scanf),  // 153
    SLOT(SGOS_fscanf),  // 154
    SLOT(SGOS_sscanf),  // 155
    SLOT(SGOS_printf),  // 156
    SLOT(SGOS_fprintf),  // 157
    SLOT(SGOS_sprintf),  // 158
    SLOT(SGOS_vsprintf),  // 159
    SLOT(SGOS_snprintf),  // 160
    SLOT(SGOS_vsnprintf),  // 161
    SLOT(SGOS_remove),  // 162
    SLOT(SGOS_fseek),  // 163
    SLOT(SGOS_ftell),  // 164
    SLOT(SGOS_rewind),  // 165
    SLOT(SGOS_fflush),  // 166
    SLOT(SGOS_atoi),  // 167
    SLOT(SGOS_atol),  // 168
    SLOT(SGOS_atoll),  // 169
    SLOT(SGOS_atoq),  // 170
    SLOT(SGOS_atof),  // 171
    SLOT(SGOS_strtod),  // 172
    SLOT(SGOS_strtof),  // 173
    SLOT(SGOS_strtold),  // 174
    SLOT(SGOS_strtol),  // 175
    SLOT(SGOS_strtoll),  // 176
    SLOT(SGOS_sleep),  // 177
    SLOT(SGOS_getenv),  // 178
    SLOT(SGOS_exit),  // 179
    SLOT(SGOS_abs),  // 180
    SLOT(SGOS_labs),  // 181
    SLOT(SGOS_llabs),  // 182
    SLOT(SGOS_strtoul),  // 183
    SLOT(SGOS_strtoull),  // 184
    SLOT(SGOS_wcslen),  // 185
    SLOT(SGOS_wcsncpy),  // 186
    SLOT(SGOS_wcsncat),  // 187
    SLOT(SGOS_wcsncmp),  // 188
    SLOT(SGOS_wcstombs),  // 189
    SLOT(SGOS_mbstowcs),  // 190
    SLOT(SGOS_asctime),  // 191
    SLOT(SGOS_ctime),  // 192
    SLOT(SGOS_gmtime),  // 193
    SLOT(SGOS_localtime),  // 194
    SLOT(SGOS_mktime),  // 195
    SLOT(SGOS_time),  // 196
    SLOT(SGOS_GetDateStr),  // 197
    SLOT(SGOS_GetTimeStr),  // 198
    SLOT(SGOS_GetDateTimeStr),  // 199
    SLOT(SGOS_open),  // 200
    SLOT(SGOS_create),  // 201
    SLOT(SGOS_read),  // 202
    SLOT(SGOS_write),  // 203
    SLOT(SGOS_readline),  // 204
    SLOT(SGOS_close),  // 205
    SLOT(SGOS_stat),  // 206
    SLOT(SGOS_fstat),  // 207
    SLOT(SGOS_fcntl),  // 208
    SLOT(SGOS_fileno),  // 209
    SLOT(SGOS_fopen),  // 210
    SLOT(SGOS_fread),  // 211
    SLOT(SGOS_fwrite),  // 212
    SLOT(SGOS_fclose),  // 213
    SLOT(SGOS_mkfifo),  // 214
    SLOT(SGOS_unlink),  // 215
    SLOT(SGOS_access),  // 216
    SLOT(SGOS_mkdir),  // 217
    SLOT(SGOS_getcwd),  // 218
    SLOT(SGOS_dlopen),  // 219
    SLOT(SGOS_dlerror),  // 220
    SLOT(SGOS_dlsym),  // 221
    SLOT(SGOS_dlclose),  // 222
    SLOT(SGOS_signal),  // 223
    SLOT(SGOS_kill),  // 224
    SLOT(SGOS_killpg),  // 225
    SLOT(SGOS_htonl),  // 226
    SLOT(SGOS_htons),  // 227
    SLOT(SGOS_ntohl),  // 228
    SLOT(SGOS_ntohs),  // 229
    SLOT(SGOS_hton64),  // 230
    SLOT(SGOS_ntoh64),  // 231
    SLOT(SGOS_opendir),  // 232
    SLOT(SGOS_closedir),  // 233
    SLOT(SGOS_readdir_r),  // 234
    SLOT(SGIPC_Initialize),  // 235
    SLOT(SGIPC_Finalize),  // 236
    SLOT(SGIPC_GetSysErrorReason),  // 237
    SLOT(SGIPC_GetLastErrorReason),  // 238
    SLOT(SGSharedMemory_GetSafely),  // 239
    SLOT(SGSharedMemory_ReleaseSafely),  // 240
    SLOT(SGSharedMemory_WriteSafely),  // 241
    SLOT(SGSharedMemory_ReadSafely),  // 242
    SLOT(SGSharedMemory_MoveSafely),  // 243
    SLOT(SGSharedMemory_Get),  // 244
    SLOT(SGSharedMemory_Release),  // 245
    SLOT(SGSharedMemory_Control),  // 246
    SLOT(SGSemaphore_Get),  // 247
    SLOT(SGSemaphore_Lock),  // 248
    SLOT(SGSemaphore_UnLock),  // 249
    SLOT(SGSemaphore_Control),  // 250
    SLOT(SGMemoryMap_Get),  // 251
    SLOT(SGMemoryMap_Release),  // 252
    SLOT(SGMemoryMap_Write),  // 253
    SLOT(SGMemoryMap_Read),  // 254
    SLOT(SGMemoryMap_Move),  // 255
    SLOT(SGMemoryMap_Lock),  // 256
    SLOT(SGMemoryMap_UnLock),  // 257
    SLOT(SGSocket_Client),  // 258
    SLOT(SGSocket_ClientNB),  // 259
    SLOT(SGSocket_Server),  // 260
    SLOT(SGSocket_Accept),  // 261
    SLOT(SGSocket_Close),  // 262
    SLOT(SGSocket_Recv),  // 263
    SLOT(SGSocket_RecvBinary),  // 264
    SLOT(SGSocket_Send),  // 265
    SLOT(SGSocket_SendBinary),  // 266
    SLOT(SGSocket_SendAll),  // 267
    SLOT(SGSocket_RecvAll),  // 268
    SLOT(SGSocket_RecvLine),  // 269
    SLOT(SGSocket_MultiSend),  // 270
    SLOT(SGSocket_MultiReceiver),  // 271
    SLOT(SGSocket_MultiRecv),  // 272
    SLOT(SGSnowMessage_Create),  // 273
    SLOT(SGSnowMessage_Destroy),  // 274
    SLOT(SGSnowMessage_Clear),  // 275
    SLOT(SGSnowMessage_GetCount),  // 276
    SLOT(SGSnowMessage_GetEntry),  // 277
    SLOT(SGSnowMessage_AddEntry),  // 278
    SLOT(SGSnowMessage_AddEntryAsCommand),  // 279
    SLOT(SGSnowMessage_AddEntryAsInteger),  // 280
    SLOT(SGSnowMessage_AddEntryAsLong),  // 281
    SLOT(SGSnowMessage_AddEntryAsString),  // 282
    SLOT(SGSnowMessage_AddEntryAsBinary),  // 283
    SLOT(SGSnowMessage_UpdateEntryValue),  // 284
    SLOT(SGSnowMessage_GetCommand),  // 285
    SLOT(SGSnowMessage_GetEntryType),  // 286
    SLOT(SGSnowMessage_GetEntryLength),  // 287
    SLOT(SGSnowMessage_GetEntryValue),  // 288
    SLOT(SGSnowMessage_GetEntryAsInteger),  // 289
    SLOT(SGSnowMessage_GetEntryAsLong),  // 290
    SLOT(SGSnowMessage_GetEntryAsString),  // 291
    SLOT(SGSnowMessage_GetEntryAsBinary),  // 292
    SLOT(SGSnowMessage_ToBytes),  // 293
    SLOT(SGSnowMessage_FromBytes),  // 294
    SLOT(SGSnowChannel_Open),  // 295
    SLOT(SGSnowChannel_AddFilter),  // 296
    SLOT(SGSnowChannel_Read),  // 297
    SLOT(SGSnowChannel_Write),  // 298
    SLOT(SGSnowChannel_Close),  // 299
    SLOT(SGThread_FreeTypes),  // 300
    SLOT(SGThread_Fork),  // 301
    SLOT(SGThread_Setsid),  // 302
    SLOT(SGThread_Getpid),  // 303
    SLOT(SGThread_Getppid),  // 304
    SLOT(SGThread_Pause),  // 305
    SLOT(SGThread_Wait),  // 306
    SLOT(SGThread_Waitpid),  // 307
    SLOT(SGThread_MutexAttrInit),  // 308
    SLOT(SGThread_MutexAttrDestroy),  // 309
    SLOT(SGThread_MutexAttrSettype),  // 310
    SLOT(SGThread_MutexAttrGettype),  // 311
    SLOT(SGThread_MutexAttrSetpshared),  // 312
    SLOT(SGThread_MutexInit),  // 313
    SLOT(SGThread_MutexDestroy),  // 314
    SLOT(SGThread_MutexLock),  // 315
    SLOT(SGThread_MutexUnlock),  // 316
    SLOT(SGThread_MutexAttrLength),  // 317
    SLOT(SGThread_MutexLength),  // 318
    SLOT(SGThread_CondAttrInit),  // 319
    SLOT(SGThread_CondAttrDestory),  // 320
    SLOT(SGThread_CondInit),  // 321
    SLOT(SGThread_CondSignal),  // 322
    SLOT(SGThread_CondBroadcast),  // 323
    SLOT(SGThread_CondWait),  // 324
    SLOT(SGThread_CondTimedwait),  // 325
    SLOT(SGThread_CondDestroy),  // 326
    SLOT(SGThread_CondAttrLength),  // 327
    SLOT(SGThread_CondLength),  // 328
    SLOT(SGThread_AttrInit),  // 329
    SLOT(SGThread_AttrDestroy),  // 330
    SLOT(SGThread_AttrSetdetachstate),  // 331
    SLOT(SGThread_AttrGetdetachstate),  // 332
    SLOT(SGThread_AttrSetschedpolicy),  // 333
    SLOT(SGThread_AttrGetschedpolicy),  // 334
    SLOT(SGThread_AttrSetschedparam),  // 335
    SLOT(SGThread_AttrGetschedparam),  // 336
    SLOT(SGThread_AttrSetinheritsched),  // 337
    SLOT(SGThread_AttrGetinheritsched),  // 338
    SLOT(SGThread_AttrSetscope),  // 339
    SLOT(SGThread_AttrGetscope),  // 340
    SLOT(SGThread_AttrSetstacksize),  // 341
    SLOT(SGThread_AttrGetstacksize),  // 342
    SLOT(SGThread_AttrLength),  // 343
    SLOT(SGThread_Create),  // 344
    SLOT(SGThread_Join),  // 345
    SLOT(SGThread_Detach),  // 346
    SLOT(SGThread_Self),  // 347
};

}  // namespace

extern "C" int SGBaseWrapper_GetList(void** table) {
    if (!table) return SG_BASE_ERR_NULL_ARGUMENT;
    table[0] = nullptr;
    const int32_t version = SG_BASE_TABLE_VERSION;
    std::memcpy(&table[0], &version, sizeof version);
    for (int i = 1; i < SG_BASE_TABLE_SLOTS; ++i) table[i] = kSlots[i - 1];
    for (int i = 1; i < SG_BASE_TABLE_SLOTS; ++i)
        if (!table[i]) return SG_BASE_ERR_EMPTY_SLOT;
    return 0;
}
