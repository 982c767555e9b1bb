// The upload tool's own HTTP exchange: an answer arriving in any reads, then
// the end of the connection. However the bytes are cut, the reader comes to the
// same answer as from one read.

#include "fuzz_input.h"
#include "http_answer_reader.h"

namespace {

struct Outcome {
    HttpAnswerReader::Step end = HttpAnswerReader::Step::More;
    int status = 0;
    int headers = 0;
    QByteArray body;
    QString error;

    bool operator==(const Outcome& other) const {
        return end == other.end && status == other.status && headers == other.headers &&
               body == other.body && error == other.error;
    }
};

Outcome read(const QList<QByteArray>& reads, bool bodyless) {
    HttpAnswerReader answer(bodyless);
    Outcome outcome;
    auto follow = [&](HttpAnswerReader::Step step) {
        for (;; step = answer.next()) {
            if (step == HttpAnswerReader::Step::Head) {
                FUZZ_CHECK(outcome.status == 0);
                outcome.status = answer.status();
                outcome.headers = answer.headers().size();
            } else if (step == HttpAnswerReader::Step::Body) {
                const QByteArray piece = answer.takeBody();
                FUZZ_CHECK(!piece.isEmpty());
                outcome.body += piece;
            } else {
                return step;
            }
        }
    };
    for (const QByteArray& bytes : reads) {
        answer.append(bytes);
        outcome.end = follow(answer.next());
        if (outcome.end != HttpAnswerReader::Step::More) break;
    }
    if (outcome.end == HttpAnswerReader::Step::More) outcome.end = follow(answer.close());
    if (outcome.end == HttpAnswerReader::Step::Failed) FUZZ_CHECK(!answer.error().isEmpty());
    FUZZ_CHECK(outcome.status == 0 || (outcome.status >= 200 && outcome.status <= 999));
    return outcome;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Answers to HEAD requests end with their head: odd first bytes stand for them.
    const bool bodyless = size > 0 && data[0] % 2 == 1;
    const QByteArray all = FuzzInput::payload(data, size);
    const Outcome split = read(FuzzInput::reads(data, size), bodyless);
    FUZZ_CHECK(split.body.size() <= all.size());
    FUZZ_CHECK(split == read({all}, bodyless));
    return 0;
}
