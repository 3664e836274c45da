// SPDX-License-Identifier: GPL-3.0-or-later
// The hand-off server's reading of a peer's bytes. The same bytes must give the same requests
// however the socket happens to split them, and every request must take bytes off the buffer.

#include "FuzzSupport.h"

#include "system/QorPrevInst.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <vector>

namespace {

struct TRead {
    std::vector<TPrevInstRequest> Requests;
    bool Dropped = false;
};

// Reads what has arrived, as the server does: request after request until one is incomplete or
// the peer is dropped.
bool ReadArrived(QByteArray &buffer, qsizetype &parmLength, TRead &read)
{
    for (;;) {
        const qsizetype before = buffer.size();
        TPrevInstRequest request = TakePrevInstRequest(buffer, parmLength);
        Require(buffer.size() <= before, "a request grew the buffer");
        switch (request.Kind) {
        case TPrevInstRequestKind::Incomplete: return true;
        case TPrevInstRequestKind::Invalid: read.Dropped = true; return false;
        default:
            Require(buffer.size() < before, "a request took no bytes");
            read.Requests.push_back(std::move(request));
        }
    }
}

bool Same(const TRead &a, const TRead &b)
{
    if (a.Dropped != b.Dropped || a.Requests.size() != b.Requests.size())
        return false;
    for (size_t i = 0; i < a.Requests.size(); ++i)
        if (a.Requests[i].Kind != b.Requests[i].Kind || a.Requests[i].Text != b.Requests[i].Text)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzedDataProvider input(data, size);
    // The chunk sizes come from the end of the input, the stream from its front.
    std::vector<size_t> chunks;
    while (input.remaining_bytes() > 0 && input.ConsumeBool())
        chunks.push_back(input.ConsumeIntegralInRange<size_t>(1, 64));
    const QByteArray stream = Bytes(input.ConsumeRemainingBytesAsString());

    TRead whole;
    {
        QByteArray buffer = stream;
        qsizetype parmLength = -1;
        ReadArrived(buffer, parmLength, whole);
    }
    TRead split;
    {
        QByteArray buffer;
        qsizetype parmLength = -1;
        qsizetype pos = 0;
        size_t next = 0;
        while (pos < stream.size()) {
            const qsizetype n = next < chunks.size() ? qsizetype(chunks[next++]) : stream.size() - pos;
            buffer += stream.mid(pos, n);
            pos += n;
            if (!ReadArrived(buffer, parmLength, split))
                break;
        }
    }
    Require(Same(whole, split), "the requests depend on how the bytes arrive");
    return 0;
}
