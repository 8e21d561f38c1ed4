#pragma once
// Turns a core callback into a call on a view: the analysis engine calls perform(a1, a2) through a
// brel::callback2 bound to the proxy, and the proxy calls the member function it was built with on
// its target (here a view's newData(const Signal::Sample*, int)). The target's type is erased when
// the proxy is built, so one proxy type serves every view.
//
// A proxy owns its bound call. Copying or assigning moves the call to the destination and leaves the
// source empty, like an owning pointer: a temporary can be built and assigned into a member, and the
// member then holds the only call. perform on an empty proxy does nothing and returns R().
// perform allocates nothing and takes no lock, so it is safe on the audio thread.

template <class R, class A1, class A2> class CallbackProxy2 {
public:
    CallbackProxy2() = default;

    template <class T>
    CallbackProxy2(T* target, R (T::*selector)(A1, A2))
        : _invocation(new BoundInvocation<T>(target, selector)) {}

    CallbackProxy2(const CallbackProxy2& other) : _invocation(other._invocation) {
        other._invocation = nullptr;
    }

    CallbackProxy2& operator=(const CallbackProxy2& other) {
        if (&other != this) {
            Invocation* taken = other._invocation;
            other._invocation = nullptr;
            delete _invocation;
            _invocation = taken;
        }
        return *this;
    }

    ~CallbackProxy2() { delete _invocation; }

    // Audio thread: calls the view. Not noexcept of its own: it passes on what the bound member
    // function does (the views' newData are noexcept).
    R perform(A1 a1, A2 a2) {
        if (!_invocation)
            return R();
        return _invocation->invoke(a1, a2);
    }

    bool isEmpty() const { return _invocation == nullptr; }

private:
    struct Invocation {
        virtual ~Invocation() = default;
        virtual R invoke(A1 a1, A2 a2) = 0;
    };

    template <class T> struct BoundInvocation final : Invocation {
        BoundInvocation(T* target, R (T::*selector)(A1, A2)) : target(target), selector(selector) {}
        R invoke(A1 a1, A2 a2) override { return (target->*selector)(a1, a2); }
        T* target;
        R (T::*selector)(A1, A2);
    };

    // Mutable so that copying from a const source (a temporary) can take the call away from it.
    mutable Invocation* _invocation = nullptr;
};
