// The program's own connection class: an HTTP connection that can carry a data buffer of
// its own for an answer made up piece by piece. The program's answers are always built
// whole in memory streams, so the buffer stays empty; the connection releases it when it
// goes.
#pragma once

#include <vector>

#include "http/HttpSrv.h"

namespace driftpost {

class TMyHttpConnection : public THttpConnection {
 public:
  using THttpConnection::THttpConnection;

  std::vector<char>& DataBuffer() { return dataBuffer_; }
  int DataBufferSize() const { return static_cast<int>(dataBuffer_.size()); }

 private:
  std::vector<char> dataBuffer_;
};

}  // namespace driftpost
