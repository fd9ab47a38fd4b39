#include "core/pjlink/transactionqueue.h"

#include <utility>

void TransactionQueue::hold()
{
    // Held first, so that the requests the end of the current one lets through wait too.
    m_line = nullptr;
    m_held = true;
    if (m_current)
        ended({TransactionEnd::Lost, {}, std::nullopt});
}

void TransactionQueue::setLine(LineTransactions *line)
{
    m_line = line;
    m_held = false;
    if (m_current)
        ended({TransactionEnd::Lost, {}, std::nullopt});
    else
        pump();
}

void TransactionQueue::request(std::string frame, std::weak_ptr<void> owner,
                               LineTransactions::Done done)
{
    m_waiting.push_back({std::move(frame), std::move(owner), std::move(done)});
    pump();
}

void TransactionQueue::distrust()
{
    if (m_line)
        m_line->distrust();
}

void TransactionQueue::ended(TransactionResult result)
{
    Request request = std::move(*m_current);
    m_current.reset();
    if (!request.owner.expired())
        request.done(std::move(result));
    pump();
}

void TransactionQueue::pump()
{
    // A request that ends before request() returns would otherwise start the next one from
    // inside its own call, and a long queue on a lost line would nest as deep as it is long.
    if (m_pumping || m_held)
        return;
    m_pumping = true;
    while (!m_current && !m_waiting.empty()) {
        Request next = std::move(m_waiting.front());
        m_waiting.pop_front();
        if (next.owner.expired())
            continue;
        if (!m_line) {
            next.done({TransactionEnd::Lost, {}, std::nullopt});
            continue;
        }
        std::string frame = std::move(next.frame);
        m_current = std::move(next);
        const std::uint64_t sent = ++m_sent;
        m_line->request(std::move(frame), [this, sent](TransactionResult result) {
            if (sent != m_sent || !m_current)
                return;
            const TransactionEnd end = result.end;
            ended(std::move(result));
            if (end == TransactionEnd::Lost && lineLost)
                lineLost();
            else if (end == TransactionEnd::Reply && lineAnswered)
                lineAnswered();
        });
    }
    m_pumping = false;
}
