// First-in first-out serialization of SRBs: one busy flag and one list per
// queue, all guarded by the caller's lock. One pair serves the device queue
// and every control queue.
#pragma once

#include "device_context.h"

// Queues the SRB when the queue is busy (TRUE); otherwise marks it busy and
// leaves the SRB to the caller, who now owns the queue (FALSE).
// IRQL <= DISPATCH_LEVEL; takes Lock for the test and the insertion.
BOOLEAN EnqueueIfBusy(PHW_STREAM_REQUEST_BLOCK Srb, PKSPIN_LOCK Lock, PULONG Busy,
                      PLIST_ENTRY Queue);

// Takes the oldest waiting SRB (TRUE), or marks the queue idle when none
// waits (FALSE). Only the queue's owner calls it.
// IRQL <= DISPATCH_LEVEL; takes Lock for the removal.
BOOLEAN DequeueNext(PHW_STREAM_REQUEST_BLOCK* Srb, PKSPIN_LOCK Lock, PULONG Busy,
                    PLIST_ENTRY Queue);
