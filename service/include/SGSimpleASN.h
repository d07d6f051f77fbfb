/* Streaming DER: a minimal TLV tree read from and written to SGStreams, so that contents of any
 * size pass through a bounded amount of memory. Primitive values above 19999 bytes stay in the
 * source as windows, smaller ones are read into memory; on output a primitive value can be any
 * stream (a cipher stage, for instance) whose length is known only from the stream. The tree
 * knows nothing of ASN.1 types: callers navigate it by position. Not in the Service table.
 *
 * Only definite lengths (at most 8 length octets) and one-octet identifiers (tag numbers up to
 * 30) are read, and DER is written; anything else, a length past the enclosing value or the
 * source, nesting deeper than 64 levels and a short source give 20901. */
#ifndef SG_SIMPLE_ASN_H
#define SG_SIMPLE_ASN_H

#include <stdint.h>

#include "SGBaseDefs.h"
#include "SGBinary.h"
#include "SGStream.h"

SG_EXTERN_C_BEGIN

enum { SG_SIMPLE_ASN_WINDOW = 19999, SG_SIMPLE_ASN_MAX_DEPTH = 64 };

/* One node; the root is the caller's (zeroed before Parse), the nodes below it are allocated by
 * the parser. value: the value stream of a primitive node, allocated by the parser (a window on
 * the source, or a stream over buffer); a caller may install its own for Update and Encode and
 * must put the parser's back before Reset. */
typedef struct SGSimpleASN {
    int tagClass;    /* bits 8-7 of the identifier octet */
    int tagNumber;   /* bits 5-1 */
    int constructed; /* bit 6 */
    int identifier;  /* the identifier octet as read, written back unchanged */
    uint64_t length;
    uint64_t position; /* the value's first byte in the source */
    SGStream* value;
    SGBinary buffer; /* a small primitive value */
    struct SGSimpleASN* parent;
    struct SGSimpleASN* firstChild;
    int childCount;
    struct SGSimpleASN* previous;
    struct SGSimpleASN* next;
} SGSimpleASN;

/* Reads one TLV and, for a constructed node (constructed bit, or tag number 16), its children.
 * A definite length in the long form is taken even where DER would write it shorter (a node's
 * length is then its value's, and a constructed node's that of its value in the source).
 * 0; 1001 null node or source; 20901 (above); 10002 memory. What was read stays in the tree
 * on failure: Reset it in every case. */
int SGSimpleASN_Parse(SGSimpleASN* node, SGStream* source);
/* Writes the node and its subtree as DER; chunkSize 0 means 0x8000. Every constructed length
 * of the subtree is first set to what its children encode to, with the shortest length octets
 * (so a tree parsed from long-form lengths that DER would write shorter comes out as DER, and
 * reproduces input that was DER byte for byte). Nothing is written when the tree cannot be:
 * 20900 when a primitive's value stream does not hold exactly the node's length or the nesting
 * is deeper than 64 levels, 10002 memory. Once writing has begun, a failure leaves in output
 * the encoding's first bytes, up to the failed step: the output's own write error is returned
 * as it came, and 20900 when a value stream fails to deliver what it announced. */
int SGSimpleASN_Encode(SGStream* output, SGSimpleASN* node, uint32_t chunkSize);
/* Recomputes every length of the subtree bottom-up: a primitive's from its value stream's
 * available count, a constructed node's from its children. 0; 1001; 20900 for nesting deeper
 * than 64 levels or a length beyond 64 bits. */
int SGSimpleASN_Update(SGSimpleASN* node);
/* Releases the value stream, the buffer and, recursively, the children; zeroes the node. 0. */
int SGSimpleASN_Reset(SGSimpleASN* node);

SG_EXTERN_C_END

#endif
