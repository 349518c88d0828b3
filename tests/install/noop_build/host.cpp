bool payloadPresent();
int main() { return payloadPresent() ? 0 : 1; }
