#include <cstdio>

// The application object is not built yet: until it is, the program only says so.
int main()
{
    std::printf("Quorvel Sonaris 3.2.9: the application object is not built yet; "
                "the foundation and channel engine libraries are under construction.\n");
    return 0;
}
