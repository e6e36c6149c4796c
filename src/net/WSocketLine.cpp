// TCustomLineWSocket: line mode on top of the asynchronous socket.
#include <algorithm>
#include <climits>
#include <cstring>
#include <string_view>

#include "net/WSocket.h"

namespace driftpost {

TCustomLineWSocket::TCustomLineWSocket(TComponent* owner) : TCustomSocksWSocket(owner) {}

TCustomLineWSocket::~TCustomLineWSocket() { destroying_ = true; }

void TCustomLineWSocket::SetLineMode(bool value) {
  if (value == lineMode_) return;
  lineMode_ = value;
  // Bytes already collected are looked at again under the new mode, from the loop.
  if (rcvdCnt_ > 0 || lineLength_ > 0) loop_.PostMessage(handle_, WM_LINE_MODE_CHANGED, 0, 0);
}

int TCustomLineWSocket::GetRcvdCount() {
  if (lineMode_ && !lineEnd_.empty()) return lineLength_;
  // Bytes collected in line mode come before anything still waiting in the system.
  if (rcvdCnt_ > 0) return rcvdCnt_;
  return TCustomSocksWSocket::GetRcvdCount();
}

int TCustomLineWSocket::RawRecv(void* buffer, int length, int flags) {
  if (lineMode_ && lineLength_ > 0) {
    int count = std::clamp(length, 0, lineLength_);
    std::memcpy(buffer, Data(), static_cast<std::size_t>(count));
    DropFront(count);
    lineLength_ -= count;
    return count;
  }
  if (!(lineMode_ && !lineEnd_.empty()) && rcvdCnt_ > 0) {
    int count = std::clamp(length, 0, rcvdCnt_);
    std::memcpy(buffer, Data(), static_cast<std::size_t>(count));
    DropFront(count);
    return count;
  }
  return TCustomSocksWSocket::RawRecv(buffer, length, flags);
}

void TCustomLineWSocket::DropFront(int count) {
  count = std::clamp(count, 0, rcvdCnt_);
  rcvStart_ += count;
  rcvdCnt_ -= count;
  if (rcvdCnt_ == 0) rcvStart_ = 0;
}

void TCustomLineWSocket::ReleaseBuffer() {
  rcvBuf_.clear();
  rcvBuf_.shrink_to_fit();
  rcvStart_ = rcvdCnt_ = lineLength_ = 0;
}

int TCustomLineWSocket::FindLineEnd(int from) const {
  if (lineEnd_.empty() || from >= rcvdCnt_) return -1;
  std::string_view data(rcvBuf_.data() + rcvStart_, static_cast<std::size_t>(rcvdCnt_));
  std::size_t found = data.find(lineEnd_, static_cast<std::size_t>(std::max(from, 0)));
  return found == std::string_view::npos ? -1 : static_cast<int>(found);
}

bool TCustomLineWSocket::OverLimit() const {
  if (lineLimit_ <= 0 || lineEnd_.empty()) return false;
  int found = FindLineEnd(0);
  if (found >= 0) return found > lineLimit_;
  // The last bytes may be the start of a LineEnd; only the rest surely belongs to the line.
  return rcvdCnt_ - (static_cast<int>(lineEnd_.size()) - 1) > lineLimit_;
}

bool TCustomLineWSocket::FireDataAvailable(int error) {
  if (!lineMode_ || lineEnd_.empty()) return TCustomSocksWSocket::FireDataAvailable(error);
  unsigned long waiting = 0;
  if (hSocket_ == INVALID_SOCKET || winsock::BytesWaiting(hSocket_, waiting) != 0 || waiting == 0) return true;
  int count = static_cast<int>(std::min<unsigned long>(waiting, INT_MAX / 4));
  // Take no more than a line may hold at a time, so the buffer stays bounded; what is left
  // waits in the system for the next pass of the read loop.
  if (lineLimit_ > 0) count = std::min(count, lineLimit_ + static_cast<int>(lineEnd_.size()));
  if (rcvStart_ > 0) {
    std::memmove(rcvBuf_.data(), Data(), static_cast<std::size_t>(rcvdCnt_));
    rcvStart_ = 0;
  }
  std::size_t needed = static_cast<std::size_t>(rcvdCnt_) + static_cast<std::size_t>(count);
  if (rcvBuf_.size() < needed) rcvBuf_.resize(std::max(needed, rcvBuf_.size() * 2));
  int got = TCustomWSocket::RawRecv(rcvBuf_.data() + rcvdCnt_, count, 0);
  if (got <= 0) {
    if (got < 0) lastError_ = winsock::WSAGetLastError();
    return true;
  }
  const int lineEndLength = static_cast<int>(lineEnd_.size());
  int oldCount = rcvdCnt_;
  rcvdCnt_ += got;
  int searchFrom = oldCount;
  if (lineEdit_) {
    searchFrom = EditLine(got);
  } else if (lineEcho_) {
    Send(Data() + oldCount, got);
  }
  // An echo that failed may have closed the socket and released the buffer.
  if (hSocket_ == INVALID_SOCKET) return true;
  DeliverLines(std::max(0, searchFrom - lineEndLength), error);
  return true;
}

void TCustomLineWSocket::DeliverLines(int searchFrom, int error) {
  while (lineMode_ && !lineEnd_.empty()) {
    int found = FindLineEnd(searchFrom);
    if (found < 0) break;
    lineReceived_ = true;
    if (lineLimit_ > 0 && found > lineLimit_) {
      LineTooLong();
      return;
    }
    lineLength_ = found + static_cast<int>(lineEnd_.size());
    while (lineMode_ && lineLength_ > 0) {
      if (!TCustomWSocket::FireDataAvailable(error)) {
        DropFront(lineLength_);  // nobody reads: the line is dropped
        lineLength_ = 0;
      }
    }
    if (!lineMode_) {
      // The unread rest of the line stays in front of everything after it.
      lineLength_ = 0;
      return;
    }
    searchFrom = 0;
  }
  if (lineMode_ && lineLimit_ > 0 && !lineEnd_.empty() &&
      rcvdCnt_ - (static_cast<int>(lineEnd_.size()) - 1) > lineLimit_)
    LineTooLong();
}

void TCustomLineWSocket::LineTooLong() {
  if (OnLineTooLong) {
    OnLineTooLong(this);
    // The handler has dealt with it when the socket is closed, line mode is off, or the
    // line has been read.
    if (hSocket_ == INVALID_SOCKET || state_ != wsConnected || !lineMode_ || !OverLimit()) return;
  }
  // The over-long line is dropped unseen rather than offered as a final line.
  ReleaseBuffer();
  Close();
}

int TCustomLineWSocket::EditLine(int count) {
  const int first = rcvdCnt_ - count;
  int keep = first;  // bytes before the new ones that survive editing
  int lowest = first;
  std::string edited;
  std::string echo;
  edited.reserve(static_cast<std::size_t>(count));
  for (int i = first; i < rcvdCnt_; ++i) {
    char c = Data()[i];
    if (c == '\b') {
      // Removes the character before it, which may have come with an earlier receive.
      if (!edited.empty()) {
        edited.pop_back();
      } else if (keep > 0) {
        --keep;
        lowest = std::min(lowest, keep);
      } else {
        continue;
      }
      if (lineEcho_) echo += "\b \b";
    } else if (c == '\t') {
      int position = keep + static_cast<int>(edited.size());
      int blanks = 8 - position % 8;
      edited.append(static_cast<std::size_t>(blanks), ' ');
      if (lineEcho_) echo.append(static_cast<std::size_t>(blanks), ' ');
    } else {
      edited.push_back(c);
      if (lineEcho_) echo.push_back(c);
    }
  }
  std::size_t needed = static_cast<std::size_t>(rcvStart_) + static_cast<std::size_t>(keep) + edited.size();
  if (rcvBuf_.size() < needed) rcvBuf_.resize(needed);
  if (!edited.empty()) std::memcpy(Data() + keep, edited.data(), edited.size());
  rcvdCnt_ = keep + static_cast<int>(edited.size());
  if (!echo.empty()) SendText(echo);
  return lowest;
}

void TCustomLineWSocket::FireSessionClosed(int error) {
  lineReceived_ = true;
  if (rcvdCnt_ > 0) {
    if (lineMode_) {
      // An unterminated last line is offered once, as it is.
      lineLength_ = rcvdCnt_;
      while (lineMode_ && lineLength_ > 0) {
        if (!TCustomWSocket::FireDataAvailable(0)) lineLength_ = 0;
      }
    }
  }
  ReleaseBuffer();
  TCustomSocksWSocket::FireSessionClosed(error);
}

void TCustomLineWSocket::WndProc(TMessage& message) {
  if (message.Msg != WM_LINE_MODE_CHANGED) {
    TCustomSocksWSocket::WndProc(message);
    return;
  }
  if (lineMode_ && !lineEnd_.empty()) {
    DeliverLines(0, 0);
    return;
  }
  // Plain data again: offered until read; a handler that reads nothing ends the offers.
  while (rcvdCnt_ > 0) {
    int before = rcvdCnt_;
    if (!TCustomWSocket::FireDataAvailable(0)) {
      DropFront(rcvdCnt_);
      break;
    }
    if (rcvdCnt_ == before) break;
  }
}

}  // namespace driftpost
