// A program that has the application's first instruction and nothing else.
int main()
{
    return 2;
}
