// Reference counting, locks and AutoLock through real library objects.
#include <atomic>
#include <chrono>
#include <future>
#include <stdexcept>
#include <thread>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"

using namespace Korvel;
using namespace Korvel::Core;

namespace {

// Counts destructions so "destroyed exactly once" can be observed.
class Probe : public virtual IByteDataInput {
public:
    explicit Probe(int* destroyed) : m_destroyed(destroyed) {}
    ~Probe() override { ++*m_destroyed; }
    unsigned long long Read(unsigned char*, unsigned long long) override { return 0; }
    int AddRef() const override { return m_count.AddRefImpl(); }
    int GetRefCount() const override { return m_count.GetRefCountImpl(); }
    int Release() const override
    {
        int n = m_count.ReleaseImpl();
        if (n == 0)
            delete this;
        return n;
    }

private:
    RefCountImpl m_count;
    int* m_destroyed;
};

const unsigned char kBytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};

}  // namespace

TEST(RefCount, NewCounterIsZeroAndReportsCountsAfterEachStep)
{
    RefCountImpl count;
    EXPECT_EQ(count.GetRefCountImpl(), 0);
    EXPECT_EQ(count.AddRefImpl(), 1);
    EXPECT_EQ(count.AddRefImpl(), 2);
    EXPECT_EQ(count.ReleaseImpl(), 1);
    EXPECT_EQ(count.ReleaseImpl(), 0);
}

TEST(RefCount, CopiesShareOneCountAndTheLastDropDestroysOnce)
{
    int destroyed = 0;
    {
        boost::intrusive_ptr<IByteDataInput> a(new Probe(&destroyed));
        EXPECT_EQ(a->GetRefCount(), 1);
        boost::intrusive_ptr<IByteDataInput> b = a;
        EXPECT_EQ(a->GetRefCount(), 2);
        a.reset();
        EXPECT_EQ(destroyed, 0);
        EXPECT_EQ(b->GetRefCount(), 1);
    }
    EXPECT_EQ(destroyed, 1);
}

TEST(RefCount, ReleaseReturnsCountAfterDecrementAndZeroMeansDestroyed)
{
    int destroyed = 0;
    const IRefCountable* raw = new Probe(&destroyed);
    EXPECT_EQ(raw->AddRef(), 1);
    EXPECT_EQ(raw->AddRef(), 2);
    EXPECT_EQ(raw->Release(), 1);
    EXPECT_EQ(destroyed, 0);
    EXPECT_EQ(raw->Release(), 0);
    EXPECT_EQ(destroyed, 1);
}

TEST(RefCount, CountsThroughDifferentInterfacesOfOneObjectAddUp)
{
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(kBytes, sizeof kBytes);
    boost::intrusive_ptr<IByteDataInput> asByte = input.get();
    boost::intrusive_ptr<IRefCountable> asCounted = input.get();
    EXPECT_EQ(input->GetRefCount(), 3);
    EXPECT_EQ(static_cast<const IRefCountable*>(input.get()), asCounted.get());
    EXPECT_EQ(static_cast<const IRefCountable*>(asByte.get()), asCounted.get());
    asByte.reset();
    EXPECT_EQ(asCounted->GetRefCount(), 2);
}

TEST(RefCount, ConcurrentCopiesKeepTheCountExact)
{
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(kBytes, sizeof kBytes);
    auto churn = [&] {
        for (int i = 0; i < 100000; ++i) {
            boost::intrusive_ptr<IDataInput> copy = input;
        }
    };
    std::thread t1(churn), t2(churn);
    t1.join();
    t2.join();
    EXPECT_EQ(input->GetRefCount(), 1);
}

TEST(Lock, TryLockFailsAtOnceWhileAnotherThreadHoldsIt)
{
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(kBytes, sizeof kBytes);
    input->Lock();
    auto other = std::async(std::launch::async, [&] { return input->TryLock(); });
    ASSERT_EQ(other.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_FALSE(other.get());
    input->Unlock();

    auto again = std::async(std::launch::async, [&] {
        bool taken = input->TryLock();
        if (taken)
            input->Unlock();
        return taken;
    });
    ASSERT_EQ(again.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_TRUE(again.get());
}

TEST(AutoLock, HoldsForItsScopeAndReleasesWhenLeftByAnException)
{
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(kBytes, sizeof kBytes);
    auto tryFromOtherThread = [&] {
        return std::async(std::launch::async,
                          [&] {
                              bool taken = input->TryLock();
                              if (taken)
                                  input->Unlock();
                              return taken;
                          })
            .get();
    };
    try {
        AutoLock guard(input.get());
        EXPECT_FALSE(tryFromOtherThread());
        throw std::runtime_error("leave the scope");
    } catch (const std::runtime_error&) {
    }
    EXPECT_TRUE(tryFromOtherThread());
}

TEST(AutoLock, NullPointerIsHarmless)
{
    AutoLock guard(nullptr);
    SUCCEED();
}

TEST(Cancel, DefaultCancelOnASeekableStreamChangesNothing)
{
    boost::intrusive_ptr<IDataInput> input = DataInputMemory::Create(kBytes, sizeof kBytes);
    unsigned char buf[4];
    input->Read(buf, 4);
    input->Cancel();
    EXPECT_EQ(input->GetPosition(), 4u);
    EXPECT_EQ(input->Read(buf, 4), 4u);
}
