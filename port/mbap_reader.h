#pragma once
// Modbus TCP framing as a stream of bytes comes in: MBAP frames cut out of it
// and the answer to the transaction awaited turned back into the RTU frame a
// controller would have sent (unit id as its address, the PDU, a CRC).
//
//   transaction id (2), protocol id (2, 0 for Modbus), length (2: the unit id
//   and the PDU that follow), unit id (1), PDU
//
// Anything else is dropped and counted: answers to earlier transactions,
// second answers, and, once a header breaks the framing (a protocol id other
// than 0, a length outside 2..260), everything, for no later byte can be
// placed.

#include <QByteArray>

class MbapReader {
public:
    // A request of this transaction went out; only its answer is taken.
    void await(quint16 transaction);
    // Takes in what came; true while the stream can be trusted.
    bool feed(const QByteArray &bytes);
    // The RTU frames of the answers taken so far, and forgets them.
    QByteArray take_rtu();
    // Bytes dropped since last asked.
    int take_dropped();
    void reset();

    // Never more than one frame's worth is held.
    static constexpr int header_size = 6;
    static constexpr int max_length = 260;

private:
    bool take_frame();

    quint16 m_transaction = 0;
    bool m_awaited = false;
    bool m_broken = false;
    QByteArray m_raw;
    QByteArray m_rtu;
    int m_dropped = 0;
};
