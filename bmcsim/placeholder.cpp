namespace bmcsim {}
