// The framework's thread object: a body (Execute) that runs on a thread of its
// own, made suspended and let go with Start, that can free itself when the body
// ends and can run a method on the GUI thread while it waits (Synchronize).
#pragma once

#include <atomic>
#include <condition_variable>
#include <exception>
#include <functional>
#include <mutex>
#include <thread>

namespace forms {

class TThread
{
public:
    // The system thread is made here and waits for Start, so that Execute never
    // runs before the derived object is complete. Raises EThread
    // "Thread creation error: %s" when the system cannot make a thread.
    TThread();
    // Deleting a thread that never started lets its thread end without running
    // Execute. A thread that runs is told to terminate and waited for; a derived
    // class whose Execute uses its own members must wait in its own destructor.
    virtual ~TThread();
    TThread(const TThread &) = delete;
    TThread &operator=(const TThread &) = delete;

    // Lets the body run; a second Start does nothing.
    void Start();
    // Asks the body to stop; Execute looks at Terminated().
    void Terminate() { terminated_ = true; }
    bool Terminated() const { return terminated_; }
    // True once Execute has returned.
    bool Finished() const { return finished_; }

    // When true, the object deletes itself on its own thread after the body and
    // OnTerminate; nobody may touch it after Start then.
    bool FreeOnTerminate() const { return freeOnTerminate_; }
    void SetFreeOnTerminate(bool value) { freeOnTerminate_ = value; }

    // Waits until the thread has ended and returns ReturnValue. On the GUI thread
    // the worker's synchronised calls keep running meanwhile.
    int WaitFor();
    int ReturnValue() const { return returnValue_; }
    // The error that escaped Execute, if any. A thread that frees itself hands it
    // to the application's error handler instead, so it is not lost.
    std::exception_ptr FatalException() const { return fatalException_; }

    // Runs synchronised after Execute, with the thread as its argument.
    std::function<void(TThread *)> OnTerminate;

    // Runs `method` on the GUI thread while the calling thread waits; directly
    // when called there. An error raised by the method is raised again here.
    static void Synchronize(const std::function<void()> &method);

protected:
    virtual void Execute() = 0;
    // Runs OnTerminate synchronised, when assigned.
    virtual void DoTerminate();
    void SetReturnValue(int value) { returnValue_ = value; }

private:
    void Run();

    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable wake_;
    bool started_ = false;
    bool abandoned_ = false;
    bool done_ = false;
    std::atomic<bool> terminated_{false};
    std::atomic<bool> finished_{false};
    std::atomic<bool> freeOnTerminate_{false};
    std::atomic<int> returnValue_{0};
    std::exception_ptr fatalException_;
};

} // namespace forms
