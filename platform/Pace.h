// The clock of a long job that turns to other work now and then (lets the windows
// react, shows its progress, saves what it has done): a turn is due the first time it
// is asked and then once the interval has passed since the last one, so the gaps are
// bounded by time whatever an item costs.
#pragma once

#include <QElapsedTimer>
#include <algorithm>

namespace lb {

class TPace {
 public:
  explicit TPace(qint64 everyMs) : m_EveryMs(everyMs) {}

  // Whether a turn was ever taken.
  bool Started() const { return m_Last.isValid(); }
  bool Due() const { return !m_Last.isValid() || m_Last.elapsed() >= m_EveryMs; }
  // How long until the next turn is due.
  qint64 LeftMs() const {
    return m_Last.isValid() ? std::max<qint64>(0, m_EveryMs - m_Last.elapsed()) : 0;
  }
  // A turn taken now; the next is due an interval later.
  void Turned() { m_Last.start(); }
  // Takes the turn when it is due; whether it was.
  bool Take() {
    if (!Due()) return false;
    Turned();
    return true;
  }

 private:
  qint64 m_EveryMs;
  QElapsedTimer m_Last;
};

}  // namespace lb
