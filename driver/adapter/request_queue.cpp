// SRB queues with a busy flag: the first caller on an idle queue becomes its
// owner and handles SRBs until the list is empty; later callers only append.
// The flag is cleared only under the lock, at the moment the owner finds the
// list empty, so no SRB is ever left behind in an idle queue.
#include "request_queue.h"

BOOLEAN EnqueueIfBusy(PHW_STREAM_REQUEST_BLOCK Srb, PKSPIN_LOCK Lock, PULONG Busy,
                      PLIST_ENTRY Queue) {
  BOOLEAN queued = FALSE;
  KIRQL irql;
  KeAcquireSpinLock(Lock, &irql);
  if (*Busy) {
    RequestLink* link = static_cast<RequestLink*>(Srb->SRBExtension);
    link->Srb = Srb;
    InsertTailList(Queue, &link->Link);
    queued = TRUE;
  } else {
    *Busy = 1;
  }
  KeReleaseSpinLock(Lock, irql);
  return queued;
}

BOOLEAN DequeueNext(PHW_STREAM_REQUEST_BLOCK* Srb, PKSPIN_LOCK Lock, PULONG Busy,
                    PLIST_ENTRY Queue) {
  RequestLink* link = nullptr;
  KIRQL irql;
  KeAcquireSpinLock(Lock, &irql);
  if (IsListEmpty(Queue)) {
    *Busy = 0;
  } else {
    link = CONTAINING_RECORD(RemoveHeadList(Queue), RequestLink, Link);
  }
  KeReleaseSpinLock(Lock, irql);
  if (link == nullptr) {
    return FALSE;
  }
  *Srb = link->Srb;
  return TRUE;
}
