/* Journal of the virtual board: everything the video device received, in order. */
#include "sim.h"

void JournalRecord(uint32_t kind, uint32_t opening, uint32_t code, const void *data,
                   uint32_t length, NTSTATUS status, uint32_t result)
{
    JournalEntry *entry = &Board.journal[Board.journalTotal++ % JOURNAL_SLOTS];
    RtlZeroMemory(entry, sizeof *entry);
    entry->kind = kind;
    entry->opening = opening;
    entry->code = code;
    entry->length = length;
    entry->status = status;
    entry->result = result;
    if (data)
        RtlCopyMemory(entry->data, data, length < JOURNAL_DATA_BYTES ? length : JOURNAL_DATA_BYTES);
}
