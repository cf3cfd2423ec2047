// Shell-surface kinds are covered with the roles in role_test.cpp; the surfaces themselves are
// tested over the mock provider.
