// The archive tool's output as the Zipper reads it: standard output in any
// reads, then the verdict of the run; the same bytes as the error output a
// repair searches for damaged entries.

#include "archive_output.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    QByteArray output;
    for (const QByteArray& read : FuzzInput::reads(data, size)) {
        const int value = ArchiveOutput::percentage(ArchiveOutput::readChunk(read, output));
        FUZZ_CHECK(value >= -1 && value <= 99);
    }
    QString errorMessage;
    const bool succeeded = ArchiveOutput::succeeded(output, 2, errorMessage);
    // However the reads fall, the tool's "Everything is Ok" makes the run a success.
    const QByteArray all = FuzzInput::payload(data, size);
    if (!all.contains('\0') && all.contains("Everything is Ok")) FUZZ_CHECK(succeeded);

    for (const QString& name : ArchiveOutput::damagedEntries(all)) FUZZ_CHECK(!name.contains('\r'));
    return 0;
}
