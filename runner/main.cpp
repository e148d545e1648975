// dbupgrade: the unattended database upgrade runner's entry point.
int main() { return 0; }
