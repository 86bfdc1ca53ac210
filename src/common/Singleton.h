// One lazily created instance per class. A function-local static gives a thread-safe first
// construction; the instance lives until the process ends.
#ifndef VEXA_SINGLETON_H
#define VEXA_SINGLETON_H

template <typename T>
class singleton {
public:
    static T* instance() {
        static T* obj = new T();  // never deleted: threads may still reach it at unload
        return obj;
    }

protected:
    singleton() = default;
    virtual ~singleton() = default;
    singleton(const singleton&) = delete;
    singleton& operator=(const singleton&) = delete;
};

#endif
