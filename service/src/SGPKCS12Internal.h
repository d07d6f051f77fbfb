// The lower-level steps of the PKCS #12 component, for the component itself and its tests.
#pragma once

#include "SGPKCS12.h"

extern "C" {

// Frees an attribute list: the localKeyId and friendlyName records, the further values and each
// node (overwritten first). A null list is ignored. Returns 0.
int SGPKCS12Attribute_Clear(SGPKCS12Attribute* attribute);
// Releases what a bag holds (values and keys overwritten first) and overwrites the node, which
// itself is not freed (array heads are not heap nodes). Returns 0.
int SGPKCS12SafeBag_Clear(SGPKCS12SafeBag* bag);
// A copy of the last localKeyId (type 1) or friendlyName (type 2) of the list into out (an empty
// record): 0 when found, 1 when not; 10001, 10002.
int SGPKCS12Attribute_GetValue(SGBinary* out, const SGPKCS12Attribute* list, int type);
// Appends a heap node as a new safe of its own; the node's fields move into the array and the
// node is freed, also on failure (10009 past SG_PKCS12_MAX_SAFES, 10002).
int SGPKCS12PFXSafeBag_Add(SGPKCS12PFX* pfx, SGPKCS12SafeBag* node);

}  // extern "C"
