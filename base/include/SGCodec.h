/* Code-set converter (CP949, EUC-KR, UTF-8, decomposed UTF-8-MAC, UTF-16) and the URL,
 * escape and copy codecs. Outputs are heap blocks that the caller frees with SGMemory_free. */
#ifndef SG_CODEC_H
#define SG_CODEC_H

#include "SGBaseDefs.h"
#include "SGBinary.h"

SG_EXTERN_C_BEGIN

enum {
    SG_CODEC_ERR_ILLEGAL = -1,    /* invalid input, or a character the target lacks */
    SG_CODEC_ERR_INCOMPLETE = -2, /* input ends inside a character; above U+FFFF into UTF-8 */
    SG_CODEC_ERR_ARGUMENT = 9001, /* missing argument, or source and target are the same */
    SG_CODEC_ERR_MEMORY = 9002,
    SG_CODEC_ERR_CODESET = 9003 /* unknown code-set name, or a UTF-32 source */
};

const char* SGCodecGetVersion(void);
const char* SGCodecGetBuildInfo(void);

/* Converts the terminated input (a zero byte, 16-bit or 32-bit zero unit by the source) from
 * one code set ("ko_KR.CP949", "ko_KR.euc-kr", "ko_KR.UTF-8", "ko_KR.UTF-8-MAC",
 * "ko_KR.UTF-16-LE", "ko_KR.UTF-16-BE", "ko_KR.UTF-32-LE", "ko_KR.UTF-32-BE") to another into
 * a new zero-filled buffer. On failure *output is not set. */
int SGCodecConvertCodeSet(const char* fromCodeSet, const char* toCodeSet, const void* input,
                          char** output);

int SGCodecEncodeURL(const char* text, char** output);
int SGCodecDecodeURL(const char* text, char** output);
int SGCodecEscapeString(const char* text, char** output);
int SGCodecUnescapeString(const char* text, char** output);
int SGCodecBinToString(const SGBinary* bin, char** output);
int SGCodecStringToBin(const char* text, SGBinary* bin);

SG_EXTERN_C_END

#endif
