/* Result codes of the PKI library and their texts. */
#ifndef SG_PKCS_ERROR_H
#define SG_PKCS_ERROR_H

#include "SGBaseDefs.h"

SG_EXTERN_C_BEGIN

/* Codes shared by the PKI components (0 = success). */
enum {
    SG_PKI_ERR_ARGUMENT = 10001,          /* missing or invalid argument */
    SG_PKI_ERR_MEMORY = 10002,            /* out of memory */
    SG_PKI_ERR_UNKNOWN_ALGORITHM = 10003, /* unknown algorithm */
    SG_PKI_ERR_NO_DATA = 10004,           /* no data */
    SG_PKI_ERR_OUT_OF_RANGE = 10009,      /* a value or a text does not fit */
    SG_PKI_ERR_NOT_IMPLEMENTED = 10010,   /* case not implemented */
    SG_PKI_ERR_NOT_SUPPORTED = 10011,     /* case not supported */
    SG_PKI_ERR_INTERNAL = 10013,          /* internal error */
    SG_PKI_ERR_EMPTY_SLOT = 10028,        /* a slot of the filled Service table is empty */

    /* ASN.1 object layer */
    SG_ASN_ERR_ENCODE = 20900,            /* encoding failed (reported by callers) */
    SG_ASN_ERR_DECODE = 20901,            /* decoding failed (reported by callers) */
    SG_ASN_ERR_RUNTIME = 20902,           /* the runtime's encoder, decoder or append failed */
    SG_ASN_ERR_UNKNOWN_OID = 20903,       /* OID id or identifier not in the OID table */
    SG_ASN_ERR_MALFORMED = 20904,         /* data not well formed (reported by callers) */
    SG_ASN_ERR_FIELD_MEMORY = 20905,      /* no memory for an attribute value or parameters */
    SG_ASN_ERR_UNKNOWN_ATTRIBUTE = 20906, /* attribute type not in the OID table */
    SG_ASN_ERR_ATTRIBUTE_TYPE = 20907,    /* attribute other than friendlyName or localKeyId */
    SG_ASN_ERR_TIME_FORM = 20908,         /* a Time without alternative, or in GeneralizedTime */
    SG_ASN_ERR_CHOICE = 20909,            /* unexpected CHOICE alternative */
    SG_ASN_ERR_NAME_KIND = 20910,         /* GeneralName kind that is not compared */
    SG_ASN_ERR_COUNT = 20911,             /* different numbers of RDNs, values or names */
    SG_ASN_ERR_KINDS_DIFFER = 20913,      /* GeneralNames of different kinds */
    SG_ASN_ERR_VALUES_DIFFER = 20914,     /* values differ */
    SG_ASN_ERR_UNSPECIFIED = 20915        /* unspecified */
};

/* The text of a result code (UTF-8, static, never freed); "not specified error" for a code
 * without text. */
const char* SGPKCSError_GetReason(int code);

SG_EXTERN_C_END

#endif
