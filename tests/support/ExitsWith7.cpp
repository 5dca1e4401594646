// A program that ends at once with status 7: put in the web server's place,
// it is a server that exits after its start.
int main()
{
    return 7;
}
