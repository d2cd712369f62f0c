#pragma once
// Pages that the texts of short chains are packed into, shared by the
// readers that hand chain texts to other threads. A page goes back to the
// pool when the last text on it is done with, and the next chains reuse it:
// a read of many short chains then neither allocates per chain nor touches
// fresh memory (each new page costs the system a fault per 4 KB).

#include <cstddef>
#include <memory>
#include <mutex>
#include <vector>

#include "platform/Memory.h"

namespace corvane::read {

class TPagePool : public std::enable_shared_from_this<TPagePool> {
public:
    static constexpr std::size_t kPageBytes = std::size_t{2} << 20;

    // A page of kPageBytes, its bytes undefined; back to the pool when the
    // last copy of the pointer goes. The pool must be held by a shared_ptr.
    std::shared_ptr<char> Take() {
        mem::TBigBuffer page;
        {
            std::lock_guard lock(mutex_);
            if (!free_.empty()) {
                page = std::move(free_.back());
                free_.pop_back();
            }
        }
        if (page.size() == 0) page = mem::TBigBuffer(kPageBytes);
        std::shared_ptr<mem::TBigBuffer> holder(new mem::TBigBuffer(std::move(page)),
                                                [pool = shared_from_this()](mem::TBigBuffer* p) {
                                                    pool->Give(std::move(*p));
                                                    delete p;
                                                });
        return std::shared_ptr<char>(holder, holder->data());
    }

private:
    // Enough for every page that can be in use at once (the text waiting
    // between the threads), so that pages once touched are reused.
    static constexpr std::size_t kKeptPages = 48;

    void Give(mem::TBigBuffer page) {
        std::lock_guard lock(mutex_);
        if (free_.size() < kKeptPages) free_.push_back(std::move(page));
    }

    std::mutex mutex_;
    std::vector<mem::TBigBuffer> free_;
};

}  // namespace corvane::read
