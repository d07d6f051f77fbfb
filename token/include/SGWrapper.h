/* The binding of the exported Base, Crypto and Service tables. The tables are filled when the
 * program is loaded; SGWrapper_Initialize repeats that for a caller outside the system. */
#ifndef SG_WRAPPER_H
#define SG_WRAPPER_H

#include "SGBaseDefs.h"

/* The load-time binder is a constructor of this priority: it runs before every static initialiser
 * of default priority, so those may already call through the tables. */
#define SG_WRAPPER_LOAD_PRIORITY 200

SG_EXTERN_C_BEGIN

/* Fills Base, then Crypto, runs the crypto initialisation once more through Crypto slot 2 (only
 * when that slot is filled), then fills Service. Results are ignored; returns 0. */
SG_EXPORT int SGWrapper_Initialize(void);
/* Returns 0 and leaves the tables as they are. */
SG_EXPORT int SGWrapper_Finalize(void);

SG_EXTERN_C_END

#endif
